// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/catalog_tables.h"

#include "platform/byte_io.h"

namespace norvo::catalog {

CatalogSettings CatalogSettings::Defaults() {
  // Window and panel geometry pairs, the thumbnail size, five column widths,
  // a splitter position and the background colour (white).
  CatalogSettings s;
  const std::uint32_t numbers[] = {500, 500, 560, 800, 250, 60, 60, 60, 60, 60, 200};
  std::size_t offset = 0;
  for (std::uint32_t n : numbers) {
    s.setNumber(offset, n);
    offset += 4;
  }
  FixedBytes out(s.bytes);
  for (int i = 0; i < 3; ++i) out.setU16be(offset + 2 * static_cast<std::size_t>(i), 65535);
  return s;
}

ImportOptions ImportOptions::Defaults() {
  // Every class but Text and HTML, nothing ignored, no filter enabled, every
  // operator 1, empty name text, dates 0, size 100 KB, folder level 1, 'JPEG'.
  ImportOptions o;
  o.bytes[4] = 0xFC;
  o.bytes[5] = 0xFF;
  o.bytes[6] = 0xFF;
  o.bytes[7] = 0xFF;
  for (std::size_t i = 20; i <= 27; ++i) o.bytes[i] = 1;
  o.setNumber(100, 100);
  o.setNumber(104, 1);
  o.setNumber(108, FourCC("JPEG"));
  return o;
}

}  // namespace norvo::catalog

// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands that work on a catalog share: the open catalog of one
// command and item ids from the command line.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/catalog_document.h"
#include "catalog/catalog.h"
#include "cli/command_table.h"

namespace norvo::cli {

// What a command will do with the catalog it opens.
enum class Intent {
  kView,    // read only: others may read it at the same time
  kChange,  // it may save: no other process reads or changes it meanwhile,
            // and a second changer waits for this one to finish
};

// Owns the open catalog for the length of one command. The settings are not
// written back on close: norvo-cli never changes them, and read-only commands
// must leave the catalog file untouched.
class Session {
 public:
  ~Session() { doc_.close(catalog::CloseSettings::kLeave); }

  Result open(const std::string& path, const Invocation& inv, Intent intent) {
    catalog::OpenOptions options;
    options.exclusive = intent == Intent::kChange;
    options.wait_ms = inv.wait_ms;
    app::DocumentResult r = doc_.open(path, inv.password, {}, options);
    if (r.code == err::kUserCancelled && !inv.password) {
      return FailWith(r.code, "The catalog '" + path + "' is protected by a password: give it with --password.");
    }
    if (!r.ok()) return r;
    return std::nullopt;
  }
  Result save() {
    app::DocumentResult r = doc_.save();
    if (!r.ok()) return r;
    return std::nullopt;
  }
  app::CatalogDocument& document() { return doc_; }
  catalog::Catalog& catalog() { return *doc_; }

 private:
  app::CatalogDocument doc_;
};

// An ItemId from the command line; nothing when the text is not a number
// from 1.
inline std::optional<std::uint32_t> ParseItemId(const std::string& text) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value == 0) return std::nullopt;
  return value;
}

// Cell number of an ItemId, or the failure to report.
inline Result FindCell(const catalog::Catalog& c, const std::string& id_text, int* cell) {
  std::optional<std::uint32_t> id = ParseItemId(id_text);
  if (!id) throw UsageError{"'" + id_text + "' is not an ItemId (a number from 1)"};
  *cell = c.cellOf(*id);
  if (*cell == 0) return FailWith(err::kParam, "There is no item with ID " + id_text + " in this catalog.");
  return std::nullopt;
}

}  // namespace norvo::cli

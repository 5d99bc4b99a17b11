// SPDX-License-Identifier: GPL-3.0-or-later
// Small bridges between the engine's types and Qt's: UTF-8 strings, error
// messages and pictures.
#pragma once

#include <QImage>
#include <QString>

#include <string>
#include <string_view>

#include "imaging/pixel_buffer.h"

namespace norvo::views {

inline QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }
inline std::string U(const QString& text) { return text.toStdString(); }

// Registers the program's resources (pictures, toolbar strips), which live
// in the static views library; called once by the program and by tests.
void InitResources();

// Our pixel buffer holds A, R, G, B bytes; QImage's ARGB32 is a native-endian
// word, so each pixel is put together rather than copied.
QImage ImageFromPixels(const imaging::PixelBuffer& picture);

}  // namespace norvo::views

// SPDX-License-Identifier: GPL-3.0-or-later
// A whole print job written to a PDF file: the pages the range asks for,
// composed by the page composer on a QPdfWriter. Needs a QGuiApplication
// (the offscreen platform will do) for its fonts.
#pragma once

#include <functional>
#include <string>

#include "platform/error_codes.h"
#include "print/page_composer.h"

namespace norvo::print {

struct PdfCallbacks {
  // Pages drawn so far and pages to draw.
  std::function<void(int done, int total)> progress;
  // Asked after each page; true ends the job (err::kUserCancelled).
  std::function<bool()> cancelled;
};

// Writes the job to `path` (UTF-8), replacing a file of that name. A job
// that fails or is cancelled leaves no file behind. err::kParam when the
// range holds no page; err::kFolderNotFound when the folder is missing;
// err::kIo when the file cannot be written.
ErrorCode PrintToPdf(const PrintJob& job, const std::string& path, const PdfCallbacks& callbacks = {});

}  // namespace norvo::print

// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/print_to_pdf.h"

#include <QFile>
#include <QPdfWriter>

#include <filesystem>
#include <memory>

namespace norvo::print {

ErrorCode PrintToPdf(const PrintJob& job, const std::string& path, const PdfCallbacks& callbacks) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) return err::kFolderNotFound;
  if (fs::is_directory(target, ec)) return err::kNotAFile;
  // The pages go to a file beside the target, renamed over it at the end: a
  // failed or cancelled job leaves an older PDF of that name as it was.
  const std::string partial = path + ".part";
  ErrorCode result = err::kNone;
  {
    QPdfWriter writer(QString::fromStdString(partial));
    writer.setResolution(1200);
    writer.setCreator(QStringLiteral("Norvo Media"));
    writer.setTitle(QString::fromStdString(job.catalog_title));
    result = PrintJobOn(job, writer, [&](int done, int total) {
      if (callbacks.progress) callbacks.progress(done, total);
      return !(callbacks.cancelled && callbacks.cancelled());
    });
  }
  if (result == err::kNone) {
    fs::rename(partial, target, ec);
    if (ec) result = err::kIo;
  }
  if (result != err::kNone) fs::remove(partial, ec);
  return result;
}

}  // namespace norvo::print

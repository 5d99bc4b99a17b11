// SPDX-License-Identifier: GPL-3.0-or-later
// The "Import" dialog for a file that could not be read: what kind of file,
// which file, why, and two ways out: show the file in the file manager, or
// move it to the trash (its item goes with it). When several files failed
// in one run, "Ignore All" passes over the rest.
#pragma once

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/error_codes.h"

class QWidget;

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::views {

// What the user chose for one file.
enum class ImportProblemChoice { kOk, kShowFile, kTrash, kIgnoreAll };

struct ImportProblem {
  QString kind;  // the media kind's name ("JPEG")
  QString path;  // the file (UTF-8 path)
  ErrorCode error = err::kNone;
};

// The problem of the item `item_id` (kind, path, error).
ImportProblem DescribeImportProblem(const catalog::Catalog& catalog, std::uint32_t item_id, ErrorCode error);

// The dialog's texts: the message with its three values filled in, and the hint.
QString ImportProblemText(const ImportProblem& problem);
QString ImportProblemHint(const ImportProblem& problem);

// Shows the dialog; `more` offers "Ignore All".
ImportProblemChoice AskAboutImportProblem(QWidget* parent, const ImportProblem& problem, bool more);

// Shows the file selected in the file manager (its D-Bus ShowItems), else
// opens its folder.
void ShowFileInFileManager(const QString& path);

}  // namespace norvo::views

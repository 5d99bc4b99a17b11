// SPDX-License-Identifier: GPL-3.0-or-later
// The one table from error code to the user's message text, shared by the
// desktop program and norvo-cli. Texts hold placeholders "^0", "^1", "^2".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::app {

// What the user was doing when the error came: the same code reads
// differently for an open and a save.
enum class Activity { kOpenCatalog, kSaveCatalog, kSaveUntitledCatalog, kOther };

// The message for `code`; empty when nothing is to be said (0, or -128).
std::string MessageForError(ErrorCode code, Activity activity);
// Replaces ^0, ^1, ^2 with the arguments.
std::string FormatMessage(std::string_view text, const std::vector<std::string>& args);

// Texts of the catalog commands.
std::string NoMissingFilesMessage();
std::string MissingFilesMessage(const std::string& catalog_name, int count);
std::string RevertQuestion(const std::string& catalog_name);

}  // namespace norvo::app

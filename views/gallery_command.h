// SPDX-License-Identifier: GPL-3.0-or-later
// "&HTML Gallery...": the options sheet, the folder chooser, the export in
// a modal progress window, then the result and, when asked, the browser.
#pragma once

#include <QString>

namespace norvo::app {
class SettingsStore;
}

namespace norvo::views {

class CatalogWindow;

// Runs the command on the window's catalog. The settings record is read
// from and saved to `store` (null: defaults, nothing saved). Returns the
// first index page's path when pages were written, else an empty string.
QString MakeGallery(CatalogWindow& window, app::SettingsStore* store);

// The export without the sheet and the folder chooser (tests, and the
// command after them): returns the result code 0-5 and sets *index_path.
int RunGalleryWithProgress(CatalogWindow& window, const QByteArray& settings_record, const QString& destination,
                           const QString& title, QString* index_path);

}  // namespace norvo::views

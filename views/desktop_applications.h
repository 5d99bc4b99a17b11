// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's applications for a file type, for "Open With": the desktop
// entries (*.desktop) of the XDG application folders that name the type or
// one of its parents, the user's default first, and the command line an
// entry's Exec key makes for a set of files.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace norvo::views {

struct DesktopApplication {
  QString id;    // the desktop file id ("org.gnome.eog.desktop")
  QString name;  // what the menu shows
  QString exec;  // the Exec key as written
  QString icon;
};

// Applications that open `mime_type` (or a type it derives from), in the
// order: the defaults of mimeapps.list, its added associations, then the
// rest by name; entries that are hidden, not applications or without Exec
// are left out, as are those mimeapps.list removes. The folders are read
// once per process and kept; `reload` reads them again.
std::vector<DesktopApplication> ApplicationsForMimeType(const QString& mime_type, bool reload = false);

// The program and arguments an Exec key makes for `paths`: %f and %u take
// the first file (the command then runs once per file: see CommandsFor),
// %F and %U all of them, %i, %c and %k are dropped, "%%" is "%". Quoted
// arguments keep their spaces. Empty when the key cannot be split.
QStringList ExecArguments(const QString& exec, const QStringList& paths);

// One command line per run: an Exec key with %F or %U (or no file code)
// runs once for all files; with %f or %u once per file.
std::vector<QStringList> CommandsFor(const QString& exec, const QStringList& paths);

// Starts the application on the files, detached; false when none started.
bool LaunchApplication(const DesktopApplication& application, const QStringList& paths);

}  // namespace norvo::views

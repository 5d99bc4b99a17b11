// SPDX-License-Identifier: GPL-3.0-or-later
// Folder watching in a catalog window: the folders a catalog watches (kept
// in the settings store under the catalog's path), a timer that takes the
// watchers' listings over when they are due, and the question before new
// files are brought in ("Folder '^0' has changed. ..."), unless the folder
// updates without asking. A change the user declined is not asked about
// again until the folder changes once more.
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "media/folder_watch.h"

class QCheckBox;
class QComboBox;
class QTreeWidget;

namespace norvo::app {
class SettingsStore;
}

namespace norvo::views {

class CatalogWindow;

struct WatchedFolder {
  QString folder;
  media::WatchRate rate = media::WatchRate::kEveryMinute;
  bool auto_update = false;
  bool operator==(const WatchedFolder&) const = default;
};

// Stored form: one line per folder, "rate;auto;path" (rate 0-2, auto 0-1).
QString EncodeWatchedFolders(const std::vector<WatchedFolder>& folders);
std::vector<WatchedFolder> DecodeWatchedFolders(const QString& text);

class FolderWatching : public QObject {
  Q_OBJECT

 public:
  // Asks before synchronising a folder; true to bring its new entries in.
  using Question = std::function<bool(const QString& folder, const media::FolderDifferences& differences)>;

  FolderWatching(CatalogWindow* window, app::SettingsStore* store);
  ~FolderWatching() override;

  const std::vector<WatchedFolder>& folders() const { return folders_; }
  // Replaces the watched folders (and keeps them for this catalog).
  void setFolders(std::vector<WatchedFolder> folders);
  // The question to put (tests answer it themselves); the default shows a message box.
  void setQuestion(Question question) { question_ = std::move(question); }
  // Takes over due listings now (the timer calls it); returns the folders synchronised.
  int poll();

 Q_SIGNALS:
  void synchronized(const QString& folder, int added);

 private:
  void load();
  void store();
  void schedule();
  QString storeKey() const;

  CatalogWindow* window_;
  app::SettingsStore* store_;
  std::vector<WatchedFolder> folders_;
  std::unique_ptr<media::FolderWatchSet> set_;
  QTimer timer_;
  Question question_;
  // Per folder, the new files the user declined to bring in.
  std::map<std::string, std::set<std::string>> declined_;
};

// The "Watch Folders" dialog: the list, Add..., Remove, the check rate and
// "Update without asking" of the chosen folder.
class WatchFoldersDialog : public QDialog {
  Q_OBJECT

 public:
  WatchFoldersDialog(std::vector<WatchedFolder> folders, QWidget* parent = nullptr);
  const std::vector<WatchedFolder>& folders() const { return folders_; }
  void addFolder(const QString& folder);

 private:
  void refresh();
  void showCurrent();

  std::vector<WatchedFolder> folders_;
  QTreeWidget* list_;
  QComboBox* rate_;
  QCheckBox* auto_update_;
};

}  // namespace norvo::views

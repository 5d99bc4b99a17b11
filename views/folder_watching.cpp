// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/folder_watching.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

#include "app/engine_preferences.h"
#include "app/messages.h"
#include "app/settings_store.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

constexpr char kWatchKey[] = "Watch";
// The longest the timer sleeps, so that a folder added meanwhile is seen.
constexpr int kLongestWaitMs = 60'000;

QString RateText(media::WatchRate rate) {
  switch (rate) {
    case media::WatchRate::kContinuous: return QObject::tr("Continuously");
    case media::WatchRate::kEveryMinute: return QObject::tr("Check every minute");
    case media::WatchRate::kEveryFiveMinutes: return QObject::tr("Check every 5 minutes");
  }
  return QString();
}

}  // namespace

QString EncodeWatchedFolders(const std::vector<WatchedFolder>& folders) {
  QStringList lines;
  for (const WatchedFolder& f : folders) {
    lines << QStringLiteral("%1;%2;%3").arg(static_cast<int>(f.rate)).arg(f.auto_update ? 1 : 0).arg(f.folder);
  }
  return lines.join(QLatin1Char('\n'));
}

std::vector<WatchedFolder> DecodeWatchedFolders(const QString& text) {
  std::vector<WatchedFolder> folders;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    // The path is everything after the second ';' (it may hold ';' itself).
    const qsizetype first = line.indexOf(QLatin1Char(';'));
    const qsizetype second = first < 0 ? -1 : line.indexOf(QLatin1Char(';'), first + 1);
    if (second < 0) continue;
    bool ok = false;
    const int rate = line.left(first).toInt(&ok);
    if (!ok || rate < 0 || rate > 2) continue;
    const QString path = line.mid(second + 1);
    if (path.isEmpty()) continue;
    folders.push_back(WatchedFolder{path, static_cast<media::WatchRate>(rate),
                                    line.mid(first + 1, second - first - 1) == QLatin1String("1")});
  }
  return folders;
}

FolderWatching::FolderWatching(CatalogWindow* window, app::SettingsStore* store)
    : QObject(window), window_(window), store_(store) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
  question_ = [this](const QString& folder, const media::FolderDifferences&) {
    const QString text = Q(app::FormatMessage(
        "Folder '^0' has changed.\nNew folders or files have been detected. Do you want to synchronize?",
        {U(folder)}));
    return QMessageBox::question(window_, tr("Watch Folders"), text) == QMessageBox::Yes;
  };
  load();
}

FolderWatching::~FolderWatching() = default;

QString FolderWatching::storeKey() const { return Q(window_->catalog().file_spec.path); }

void FolderWatching::load() {
  if (store_ == nullptr || !window_->catalog().titled()) return;
  if (auto text = store_->getString(kWatchKey, U(storeKey()))) {
    std::vector<WatchedFolder> folders = DecodeWatchedFolders(Q(*text));
    if (!folders.empty()) setFolders(std::move(folders));
  }
}

void FolderWatching::store() {
  if (store_ == nullptr || !window_->catalog().titled()) return;
  ErrorCode e = folders_.empty() ? store_->deleteValue(kWatchKey, U(storeKey()))
                                 : store_->putString(kWatchKey, U(storeKey()), U(EncodeWatchedFolders(folders_)));
  if (e != err::kNone) Q_EMIT window_->message(tr("The watched folders could not be kept (error %1).").arg(e), 8000);
}

void FolderWatching::setFolders(std::vector<WatchedFolder> folders) {
  folders_ = std::move(folders);
  set_ = std::make_unique<media::FolderWatchSet>(window_->catalog());
  declined_.clear();
  if (!window_->catalog().read_only) {
    for (const WatchedFolder& f : folders_) set_->watch(U(f.folder), f.rate, f.auto_update);
  }
  store();
  schedule();
}

void FolderWatching::schedule() {
  if (set_ == nullptr || set_->size() == 0) {
    timer_.stop();
    return;
  }
  int wait_ms = kLongestWaitMs;
  if (auto due = set_->nextDue()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*due - media::FolderWatchSet::Clock::now());
    wait_ms = static_cast<int>(std::clamp<long long>(left.count(), 100, kLongestWaitMs));
  }
  timer_.start(wait_ms);
}

int FolderWatching::poll() {
  if (set_ == nullptr) return 0;
  int synchronized_count = 0;
  for (media::FolderWatchSet::Report& report : set_->poll()) {
    const QString folder = Q(report.folder);
    if (report.synchronized) {
      ++synchronized_count;
      Q_EMIT synchronized(folder, report.added);
      continue;
    }
    if (report.differences.new_files.empty() && report.differences.new_folders.empty()) continue;
    // Ask once per set of new entries: a declined set is not asked again.
    std::set<std::string> now(report.differences.new_files.begin(), report.differences.new_files.end());
    now.insert(report.differences.new_folders.begin(), report.differences.new_folders.end());
    std::set<std::string>& declined = declined_[report.folder];
    if (std::includes(declined.begin(), declined.end(), now.begin(), now.end())) continue;
    if (!question_(folder, report.differences)) {
      declined.insert(now.begin(), now.end());
      continue;
    }
    int added = 0;
    if (ErrorCode e = media::SynchronizeFolder(window_->catalog(), report.differences, {}, &added); e != err::kNone) {
      Q_EMIT window_->message(tr("Folder '%1' could not be synchronized (error %2).").arg(folder).arg(e), 8000);
      continue;
    }
    ++synchronized_count;
    Q_EMIT synchronized(folder, added);
  }
  if (synchronized_count > 0) window_->scanPending();
  schedule();
  return synchronized_count;
}

WatchFoldersDialog::WatchFoldersDialog(std::vector<WatchedFolder> folders, QWidget* parent)
    : QDialog(parent), folders_(std::move(folders)) {
  setWindowTitle(tr("Watch Folders"));
  list_ = new QTreeWidget;
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({tr("Folder"), tr("Check"), tr("Update")});
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  auto* add = new QPushButton(tr("Add..."));
  auto* remove = new QPushButton(tr("Remove"));
  connect(add, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Watch Folder"));
    if (!folder.isEmpty()) addFolder(folder);
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    if (row < 0) return;
    folders_.erase(folders_.begin() + row);
    refresh();
  });
  rate_ = new QComboBox;
  for (auto rate : {media::WatchRate::kContinuous, media::WatchRate::kEveryMinute, media::WatchRate::kEveryFiveMinutes}) {
    rate_->addItem(RateText(rate), static_cast<int>(rate));
  }
  auto_update_ = new QCheckBox(tr("Update without asking"));
  connect(list_, &QTreeWidget::currentItemChanged, this, [this] { showCurrent(); });
  connect(rate_, &QComboBox::activated, this, [this] {
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    if (row < 0) return;
    folders_[static_cast<std::size_t>(row)].rate = static_cast<media::WatchRate>(rate_->currentData().toInt());
    list_->currentItem()->setText(1, rate_->currentText());
  });
  connect(auto_update_, &QCheckBox::clicked, this, [this](bool on) {
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    if (row < 0) return;
    folders_[static_cast<std::size_t>(row)].auto_update = on;
    list_->currentItem()->setText(2, on ? tr("without asking") : tr("after asking"));
  });

  auto* side = new QVBoxLayout;
  side->addWidget(add);
  side->addWidget(remove);
  side->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(side);
  auto* form = new QFormLayout;
  form->addRow(tr("Check:"), rate_);
  form->addRow(auto_update_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("New files in these folders are brought into the catalog while it is open.")));
  layout->addLayout(top, 1);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(560, 340);
  refresh();
}

void WatchFoldersDialog::addFolder(const QString& folder) {
  for (const WatchedFolder& f : folders_) {
    if (f.folder == folder) return;
  }
  const app::ImportPreferences& defaults = app::ImportPreferencesInUse();
  folders_.push_back(WatchedFolder{folder, defaults.watch_rate, defaults.watch_updates_without_asking});
  refresh();
  list_->setCurrentItem(list_->topLevelItem(list_->topLevelItemCount() - 1));
}

void WatchFoldersDialog::refresh() {
  list_->clear();
  for (const WatchedFolder& f : folders_) {
    new QTreeWidgetItem(list_, {f.folder, RateText(f.rate), f.auto_update ? tr("without asking") : tr("after asking")});
  }
  showCurrent();
}

void WatchFoldersDialog::showCurrent() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  rate_->setEnabled(row >= 0);
  auto_update_->setEnabled(row >= 0);
  if (row < 0) return;
  const WatchedFolder& f = folders_[static_cast<std::size_t>(row)];
  rate_->setCurrentIndex(rate_->findData(static_cast<int>(f.rate)));
  auto_update_->setChecked(f.auto_update);
}

}  // namespace norvo::views

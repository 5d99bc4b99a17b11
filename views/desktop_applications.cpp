// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/desktop_applications.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QMimeDatabase>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include <algorithm>

namespace norvo::views {
namespace {

struct Entry {
  DesktopApplication app;
  QStringList mime_types;
};

// The [Desktop Entry] group of a desktop file, keys without a locale.
bool ReadEntry(const QString& path, const QString& id, Entry* out) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  QTextStream in(&file);
  bool in_group = false;
  QHash<QString, QString> keys;
  for (int lines = 0; !in.atEnd() && lines < 2000; ++lines) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      if (in_group) break;  // the entry's own group has ended
      in_group = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!in_group || line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    if (!keys.contains(key)) keys.insert(key, line.mid(eq + 1).trimmed());
  }
  if (keys.value(QStringLiteral("Type")) != QLatin1String("Application")) return false;
  if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true")) return false;
  if (keys.value(QStringLiteral("NoDisplay")) == QLatin1String("true")) return false;
  const QString exec = keys.value(QStringLiteral("Exec"));
  if (exec.isEmpty()) return false;
  out->app = DesktopApplication{id, keys.value(QStringLiteral("Name"), id), exec, keys.value(QStringLiteral("Icon"))};
  out->mime_types = keys.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  return true;
}

// The user's associations: type -> desktop ids, per group of mimeapps.list.
struct Associations {
  QHash<QString, QStringList> defaults;
  QHash<QString, QStringList> added;
  QHash<QString, QStringList> removed;
};

void ReadMimeApps(const QString& path, Associations* into) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;
  QTextStream in(&file);
  QHash<QString, QStringList>* group = nullptr;
  for (int lines = 0; !in.atEnd() && lines < 20000; ++lines) {
    const QString line = in.readLine().trimmed();
    if (line == QLatin1String("[Default Applications]")) {
      group = &into->defaults;
    } else if (line == QLatin1String("[Added Associations]")) {
      group = &into->added;
    } else if (line == QLatin1String("[Removed Associations]")) {
      group = &into->removed;
    } else if (line.startsWith(QLatin1Char('['))) {
      group = nullptr;
    } else if (group != nullptr) {
      const qsizetype eq = line.indexOf(QLatin1Char('='));
      if (eq <= 0) continue;
      // Earlier files take precedence: only add what is not there yet.
      QStringList& ids = (*group)[line.left(eq).trimmed()];
      for (const QString& id : line.mid(eq + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!ids.contains(id)) ids.push_back(id);
      }
    }
  }
}

struct Registry {
  std::vector<Entry> entries;
  Associations associations;
};

Registry LoadRegistry() {
  Registry r;
  QSet<QString> seen;
  // Earlier folders win: the user's entries hide the system's of the same id.
  for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
    QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      QString id = QDir(folder).relativeFilePath(path);
      id.replace(QLatin1Char('/'), QLatin1Char('-'));
      if (seen.contains(id)) continue;
      seen.insert(id);
      Entry e;
      if (ReadEntry(path, id, &e)) r.entries.push_back(std::move(e));
    }
  }
  for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
    ReadMimeApps(folder + QStringLiteral("/mimeapps.list"), &r.associations);
  }
  for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
    ReadMimeApps(folder + QStringLiteral("/mimeapps.list"), &r.associations);
  }
  return r;
}

QMutex registry_mutex;

// Splits an Exec key at unquoted blanks; quotes and backslash escapes are
// taken out. Empty on an unterminated quote.
QStringList SplitExec(const QString& exec) {
  QStringList words;
  QString word;
  bool quoted = false;
  bool has_word = false;
  for (qsizetype i = 0; i < exec.size(); ++i) {
    const QChar c = exec[i];
    if (quoted) {
      if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == QLatin1Char('"')) {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == QLatin1Char('"')) {
      quoted = true;
      has_word = true;
    } else if (c.isSpace()) {
      if (has_word) words.push_back(word);
      word.clear();
      has_word = false;
    } else {
      word += c;
      has_word = true;
    }
  }
  if (quoted) return {};
  if (has_word) words.push_back(word);
  return words;
}

}  // namespace

std::vector<DesktopApplication> ApplicationsForMimeType(const QString& mime_type, bool reload) {
  static Registry registry;
  static bool loaded = false;
  QMutexLocker lock(&registry_mutex);
  if (!loaded || reload) {
    registry = LoadRegistry();
    loaded = true;
  }
  QStringList types{mime_type};
  const QMimeType mime = QMimeDatabase().mimeTypeForName(mime_type);
  if (mime.isValid()) types += mime.allAncestors();

  std::vector<DesktopApplication> ordered;
  QSet<QString> taken;
  QSet<QString> removed;
  for (const QString& t : types) {
    for (const QString& id : registry.associations.removed.value(t)) removed.insert(id);
  }
  const auto take = [&](const QString& id) {
    if (taken.contains(id) || removed.contains(id)) return;
    for (const Entry& e : registry.entries) {
      if (e.app.id == id) {
        ordered.push_back(e.app);
        taken.insert(id);
        return;
      }
    }
  };
  for (const QString& t : types) {
    for (const QString& id : registry.associations.defaults.value(t)) take(id);
  }
  for (const QString& t : types) {
    for (const QString& id : registry.associations.added.value(t)) take(id);
  }
  std::vector<DesktopApplication> rest;
  for (const Entry& e : registry.entries) {
    if (taken.contains(e.app.id) || removed.contains(e.app.id)) continue;
    const bool opens = std::any_of(types.begin(), types.end(), [&e](const QString& t) { return e.mime_types.contains(t); });
    if (opens) rest.push_back(e.app);
  }
  std::sort(rest.begin(), rest.end(), [](const DesktopApplication& a, const DesktopApplication& b) {
    return QString::localeAwareCompare(a.name, b.name) < 0;
  });
  ordered.insert(ordered.end(), rest.begin(), rest.end());
  return ordered;
}

QStringList ExecArguments(const QString& exec, const QStringList& paths) {
  QStringList out;
  for (const QString& word : SplitExec(exec)) {
    if (word == QLatin1String("%F")) {
      out += paths;
    } else if (word == QLatin1String("%U")) {
      for (const QString& p : paths) out += QUrl::fromLocalFile(p).toString();
    } else if (word == QLatin1String("%i") || word == QLatin1String("%c") || word == QLatin1String("%k")) {
      continue;
    } else {
      QString expanded;
      for (qsizetype i = 0; i < word.size(); ++i) {
        if (word[i] != QLatin1Char('%') || i + 1 >= word.size()) {
          expanded += word[i];
          continue;
        }
        const QChar code = word[++i];
        if (code == QLatin1Char('%')) {
          expanded += QLatin1Char('%');
        } else if (code == QLatin1Char('f') && !paths.isEmpty()) {
          expanded += paths.front();
        } else if (code == QLatin1Char('u') && !paths.isEmpty()) {
          expanded += QUrl::fromLocalFile(paths.front()).toString();
        }
        // Any other field code (deprecated ones included) is dropped.
      }
      if (!expanded.isEmpty()) out += expanded;
    }
  }
  return out;
}

std::vector<QStringList> CommandsFor(const QString& exec, const QStringList& paths) {
  const QStringList words = SplitExec(exec);
  const bool per_file = std::any_of(words.begin(), words.end(), [](const QString& w) {
    return w.contains(QLatin1String("%f")) || w.contains(QLatin1String("%u"));
  });
  const bool takes_list = words.contains(QLatin1String("%F")) || words.contains(QLatin1String("%U"));
  std::vector<QStringList> commands;
  if (per_file && !takes_list) {
    for (const QString& p : paths) commands.push_back(ExecArguments(exec, {p}));
  } else {
    QStringList command = ExecArguments(exec, paths);
    // An Exec key without any file code still gets the files at the end.
    if (!takes_list) command += paths;
    commands.push_back(command);
  }
  commands.erase(std::remove_if(commands.begin(), commands.end(), [](const QStringList& c) { return c.isEmpty(); }),
                 commands.end());
  return commands;
}

bool LaunchApplication(const DesktopApplication& application, const QStringList& paths) {
  bool started = false;
  for (QStringList command : CommandsFor(application.exec, paths)) {
    const QString program = command.takeFirst();
    started |= QProcess::startDetached(program, command);
  }
  return started;
}

}  // namespace norvo::views

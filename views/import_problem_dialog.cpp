// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/import_problem_dialog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "app/messages.h"
#include "catalog/catalog.h"
#include "media/media_type_registry.h"
#include "platform/text_encoding.h"
#include "views/qt_support.h"

namespace norvo::views {

ImportProblem DescribeImportProblem(const catalog::Catalog& catalog, std::uint32_t item_id, ErrorCode error) {
  ImportProblem problem;
  problem.error = error;
  const int cell = catalog.cellOf(item_id);
  if (cell == 0) return problem;
  problem.path = Q(catalog::ItemPath(catalog, cell).value_or(std::string()));
  catalog::ItemRecord record;
  if (catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, record) == err::kNone) {
    if (const media::MediaTypeRow* row = media::FindMediaTypeRow(record.type_code)) {
      problem.kind = Q(Windows1252ToUtf8(row->kind_name.text()));
    }
    if (problem.path.isEmpty()) problem.path = Q(catalog::ItemFileNameUtf8(record));
  }
  return problem;
}

QString ImportProblemText(const ImportProblem& problem) {
  return Q(app::ImportProblemMessage(U(problem.kind), U(QFileInfo(problem.path).fileName()), problem.error));
}

QString ImportProblemHint(const ImportProblem& problem) {
  return Q(app::ImportProblemHint(U(QFileInfo(problem.path).fileName())));
}

ImportProblemChoice AskAboutImportProblem(QWidget* parent, const ImportProblem& problem, bool more) {
  QMessageBox box(QMessageBox::Warning, QObject::tr("Import"), ImportProblemText(problem), QMessageBox::NoButton,
                  parent);
  box.setInformativeText(ImportProblemHint(problem));
  QPushButton* show = box.addButton(QObject::tr("Show Media File"), QMessageBox::ActionRole);
  QPushButton* trash = box.addButton(QObject::tr("Move to Recycle Bin"), QMessageBox::DestructiveRole);
  QPushButton* ignore_all = more ? box.addButton(QObject::tr("Ignore All"), QMessageBox::RejectRole) : nullptr;
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  box.setDefaultButton(ok);
  const bool exists = QFileInfo::exists(problem.path);
  show->setEnabled(exists);
  trash->setEnabled(exists);
  box.exec();
  if (box.clickedButton() == show) return ImportProblemChoice::kShowFile;
  if (box.clickedButton() == trash) return ImportProblemChoice::kTrash;
  if (ignore_all != nullptr && box.clickedButton() == ignore_all) return ImportProblemChoice::kIgnoreAll;
  return ImportProblemChoice::kOk;
}

void ShowFileInFileManager(const QString& path) {
  // The file manager shows the file selected; without one, its folder opens.
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                     QStringLiteral("/org/freedesktop/FileManager1"),
                                                     QStringLiteral("org.freedesktop.FileManager1"),
                                                     QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
  }
}

}  // namespace norvo::views

// SPDX-License-Identifier: GPL-3.0-or-later
// The Print dialog and its Margins, Headers & Footers and Grid dialogs on the
// offscreen platform: the options survive them, choices land in the right
// fields, tokens go in where the cursor is, and a catalog window's job holds
// its selection, else every item it shows.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "catalog/catalog.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/print_dialog.h"
#include "views/qt_support.h"

using namespace norvo;
using namespace norvo::views;

namespace {

print::PrintOptions Unusual() {
  print::PrintOptions o;
  o.layout = print::PrintLayout::kMediaSheet;
  o.range = print::PrintRange::kOddPages;
  o.scaling = 13;  // 200%
  o.flags = print::print_flags::kCropMarks | print::print_flags::kRepeatMedia | print::print_flags::kViewColors;
  o.repeat_count = 4;
  o.margin_top = 0.5;
  o.margin_left = 2.25;
  o.mirror_margins = true;
  o.grid = print::GridMode::kSize;
  o.columns = 3;
  o.rows = 7;
  o.cell_width = 2.5;
  o.cell_height = 3.5;
  o.unit = print::GridUnit::kInches;
  o.landscape = true;
  o.lines = {"&c", "&d&i&t", "", "Page &p of &n"};
  return o;
}

QStringList Items(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QCheckBox* Check(QWidget* root, const QString& text) {
  for (QCheckBox* b : root->findChildren<QCheckBox*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

// Runs `edit` on the modal dialog of type T that the next click opens.
template <typename T, typename Edit>
void WhenOpen(Edit edit) {
  QTimer::singleShot(0, [edit] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    edit(dialog);
  });
}

}  // namespace

class PrintDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  app::Labels labels_ = app::DefaultLabels();

 private Q_SLOTS:
  void initTestCase() {
    InitResources();
    QVERIFY(dir_.isValid());
    app::SetScratchFolder(dir_.path().toStdString());
    QCOMPARE(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
  }

  void printDialogShowsThePartsListsAndKeepsEveryOption() {
    PrintDialog dialog(Unusual());
    QList<QComboBox*> combos = dialog.findChildren<QComboBox*>();
    QCOMPARE(combos.size(), 3);
    QCOMPARE(Items(combos[0]), (QStringList{"Content List", "Contact Sheet", "Media Sheet"}));
    QCOMPARE(Items(combos[1]), (QStringList{"Define in Print Box", "Current Page", "Odd Pages", "Even Pages"}));
    QCOMPARE(Items(combos[2]).size(), 14);
    QCOMPARE(Items(combos[2]).first(), QString("Actual Size"));
    QCOMPARE(Items(combos[2]).last(), QString("1600%"));
    QStringList buttons;
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) buttons << b->text();
    for (const char* text : {"&Margins...", "&Headers...", "&Grid...", "Page &Setup...", "Print", "Cancel"}) {
      QVERIFY2(buttons.contains(text), text);
    }
    for (const print::FlagEntry& f : print::kFlagNames) {
      QVERIFY2(Check(&dialog, QString::fromUtf8(f.name.data(), f.name.size())) != nullptr, f.name.data());
    }
    QVERIFY(dialog.options() == Unusual());
  }

  void choicesLandInTheirFields() {
    PrintDialog dialog(print::PrintOptions{});
    QList<QComboBox*> combos = dialog.findChildren<QComboBox*>();
    combos[0]->setCurrentIndex(2);  // Media Sheet
    combos[2]->setCurrentText("Tile");
    QCOMPARE(dialog.options().scaling, std::uint8_t{8});
    combos[2]->setCurrentText("25%");
    QCOMPARE(dialog.options().scaling, std::uint8_t{10});
    combos[1]->setCurrentText("Even Pages");
    Check(&dialog, "Corner crop marks")->setChecked(true);
    Check(&dialog, "Print label row")->setChecked(false);
    Check(&dialog, "Repeat media")->setChecked(true);
    auto* repeat = dialog.findChild<QSpinBox*>();
    QVERIFY(repeat->isEnabled());
    repeat->setValue(3);
    const print::PrintOptions o = dialog.options();
    QCOMPARE(o.layout, print::PrintLayout::kMediaSheet);
    QCOMPARE(o.range, print::PrintRange::kEvenPages);
    QVERIFY(o.has(print::print_flags::kCropMarks));
    QVERIFY(!o.has(print::print_flags::kLabelRow));
    QVERIFY(o.has(print::print_flags::kRepeatMedia));
    QCOMPARE(o.repeat_count, 3);
    // Scaling and repeats are the media sheet's alone.
    combos[0]->setCurrentIndex(1);
    QVERIFY(!combos[2]->isEnabled());
    QVERIFY(!repeat->isEnabled());
  }

  void marginsAndGridDialogsKeepWhatIsAcceptedOnly() {
    PrintDialog dialog(print::PrintOptions{});
    WhenOpen<PrintMarginsDialog>([](PrintMarginsDialog* d) {
      QList<QDoubleSpinBox*> boxes = d->findChildren<QDoubleSpinBox*>();
      QCOMPARE(boxes.size(), 4);
      boxes[0]->setValue(2.5);  // top
      boxes[3]->setValue(0.75);  // right
      d->findChild<QCheckBox*>()->setChecked(true);
      d->accept();
    });
    QTest::mouseClick(dialog.marginsButton(), Qt::LeftButton);
    QCOMPARE(dialog.options().margin_top, 2.5);
    QCOMPARE(dialog.options().margin_right, 0.75);
    QVERIFY(dialog.options().mirror_margins);

    WhenOpen<PrintMarginsDialog>([](PrintMarginsDialog* d) {
      d->findChildren<QDoubleSpinBox*>()[0]->setValue(9);
      d->reject();
    });
    QTest::mouseClick(dialog.marginsButton(), Qt::LeftButton);
    QCOMPARE(dialog.options().margin_top, 2.5);

    WhenOpen<GridDialog>([](GridDialog* d) {
      for (QRadioButton* r : d->findChildren<QRadioButton*>()) {
        if (r->text() == "Size:") r->setChecked(true);
      }
      QList<QDoubleSpinBox*> sizes = d->findChildren<QDoubleSpinBox*>();
      sizes[0]->setValue(12);
      sizes[1]->setValue(18);
      d->findChild<QComboBox*>()->setCurrentText("Picas");
      d->accept();
    });
    QTest::mouseClick(dialog.gridButton(), Qt::LeftButton);
    const print::PrintOptions o = dialog.options();
    QCOMPARE(o.grid, print::GridMode::kSize);
    QCOMPARE(o.cell_width, 12.0);
    QCOMPARE(o.cell_height, 18.0);
    QCOMPARE(o.unit, print::GridUnit::kPicas);
  }

  void tokensGoWhereTheCursorIs() {
    print::PrintOptions options;
    options.lines = {"Page  of ", "", "", ""};
    HeadersDialog dialog(options);
    QList<QToolButton*> buttons = dialog.findChildren<QToolButton*>();
    QCOMPARE(buttons.size(), print::kHeaderLineCount);
    QStringList entries;
    for (QAction* a : buttons[0]->menu()->actions()) entries << a->text();
    QCOMPARE(entries, (QStringList{"Ampersand", "Indent", "Date", "Time", "Page Number", "Total Pages",
                                   "Catalog Title"}));
    dialog.line(0)->setCursorPosition(5);
    buttons[0]->menu()->actions()[4]->trigger();  // Page Number
    dialog.line(0)->end(false);
    buttons[0]->menu()->actions()[5]->trigger();  // Total Pages
    QCOMPARE(dialog.line(0)->text(), QString("Page &p of &n"));
    buttons[3]->menu()->actions()[0]->trigger();  // an ampersand into the last line
    QCOMPARE(dialog.line(3)->text(), QString("&&"));

    // "Special" fills the line last worked on.
    QPushButton* special = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
      if (b->text() == "Special") special = b;
    }
    QVERIFY(special != nullptr && special->menu() != nullptr);
    dialog.insertToken(2, 6);
    special->menu()->actions()[0]->trigger();
    QCOMPARE(dialog.line(2)->text(), QString("Page &p of &n"));

    print::PrintOptions back;
    dialog.apply(&back);
    QCOMPARE(back.lines[0], std::string("Page &p of &n"));
    QCOMPARE(back.lines[1], std::string());
    QCOMPARE(back.lines[3], std::string("&&"));
  }

  void jobPrintsTheSelectionElseEveryShownItem() {
    auto document = std::make_unique<app::CatalogDocument>();
    QVERIFY(document->createUntitled().ok());
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
      const QString path = dir_.path() + "/" + name;
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("not a picture");
      f.close();
      FileSpec spec;
      (void)MakeFileSpec(U(path), spec);  // it exists
      QCOMPARE(catalog::AddPendingItem(**document, spec), err::kNone);
    }
    CatalogWindow window(std::move(document), &labels_);
    CatalogModel* model = window.model();
    QCOMPARE(model->rowCount(), 4);

    print::PrintJob all = JobForWindow(window, print::PrintOptions{}, nullptr);
    QCOMPARE(all.cells.size(), std::size_t{4});
    for (int row = 0; row < 4; ++row) QCOMPARE(all.cells[static_cast<std::size_t>(row)], model->cellAt(row));
    QVERIFY(!all.view_fields.empty());

    window.selection()->select(model->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window.selection()->setCurrentIndex(model->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    print::PrintJob some = JobForWindow(window, print::PrintOptions{}, nullptr);
    QCOMPARE(some.cells, (std::vector<int>{model->cellAt(1), model->cellAt(3)}));
    QCOMPARE(some.current_item, 0);
    QCOMPARE(some.catalog_title, window.title().toStdString());
  }

  // The desktop prints on a QPrinter; with PDF output chosen in the print
  // dialog, the pages land in the file on the paper chosen.
  void printerWithPdfOutputGetsThePages() {
    auto document = std::make_unique<app::CatalogDocument>();
    QVERIFY(document->createUntitled().ok());
    for (int i = 0; i < 5; ++i) {
      const QString path = dir_.path() + QString("/p%1.jpg").arg(i);
      QVERIFY(QFile::copy(QString(NORVO_TESTDATA_DIR) + "/photos/DSCN0010.jpg", path));
      FileSpec spec;
      (void)MakeFileSpec(U(path), spec);  // it exists
      QCOMPARE(catalog::AddPendingItem(**document, spec), err::kNone);
    }
    CatalogWindow window(std::move(document), &labels_);
    print::PrintOptions options;
    options.layout = print::PrintLayout::kMediaSheet;
    options.range = print::PrintRange::kOddPages;
    options.landscape = true;
    print::PrintJob job = JobForWindow(window, options, nullptr);

    QPrinter printer(QPrinter::HighResolution);
    const QString pdf = dir_.path() + "/printer.pdf";
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ApplyPaper(options, &printer);
    QCOMPARE(print::PrintJobOn(job, printer, {}), err::kNone);
    QVERIFY(QFile::exists(pdf));
    if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0) QSKIP("pdfinfo is not installed");
    QProcess info;
    info.start("pdfinfo", {pdf});
    QVERIFY(info.waitForFinished());
    const QString text = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(text.contains(QRegularExpression("Pages:\\s+3\\n")), qPrintable(text));  // pages 1, 3 and 5
    QVERIFY2(text.contains(QRegularExpression("Page size:\\s+84[12](\\.\\d+)? x 595")), qPrintable(text));  // A4 across
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  PrintDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "print_dialog_test.moc"

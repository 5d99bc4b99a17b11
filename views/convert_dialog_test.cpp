// SPDX-License-Identifier: GPL-3.0-or-later
// The three Convert dialogs on the offscreen platform: the controls each
// kind shows, and what the controls and the Size, Resolution and Settings
// dialogs store in the options record.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "views/convert_dialog.h"

using namespace norvo;
using namespace norvo::views;
using output::ConversionKind;

namespace {

template <typename Widget>
Widget* FindByText(QWidget* root, const QString& text) {
  for (Widget* w : root->findChildren<Widget*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

QStringList Texts(QWidget* root) {
  QStringList texts;
  for (QLabel* w : root->findChildren<QLabel*>()) texts << w->text();
  for (QAbstractButton* w : root->findChildren<QAbstractButton*>()) texts << w->text();
  for (QGroupBox* w : root->findChildren<QGroupBox*>()) texts << w->title();
  return texts;
}

// Runs `edit` (which opens a modal sub-dialog) and, once it is open, lets
// `drive` set its controls and accepts it.
template <typename Edit, typename Drive>
void WithSubDialog(ConvertDialog& dialog, Edit edit, Drive drive) {
  QTimer::singleShot(0, [&] {
    QDialog* sub = dialog.openSubDialog();
    QVERIFY(sub != nullptr);
    drive(sub);
    sub->accept();
  });
  (dialog.*edit)();
}

ConvertDialog MakeDialog(ConversionKind kind, bool have_selection = true) {
  return ConvertDialog(output::DefaultConversionOptions(kind), {}, {}, true, false, have_selection);
}

}  // namespace

class ConvertDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void eachKindShowsItsOwnControls() {
    const QStringList common = {"Format:", "Settings...", "Replace original files", "Selected items only", "Options",
                                "Convert..."};
    const QStringList image_only = {"Size...", "Resolution...", "Preserve color profiles",
                                    "Preserve EXIF/GPS metadata"};
    struct Case {
      ConversionKind kind;
      QString title;
    };
    for (const Case& c : {Case{ConversionKind::kImage, "Convert Image Files"},
                          Case{ConversionKind::kMovie, "Convert Movie Files"},
                          Case{ConversionKind::kSound, "Convert Sound Files"}}) {
      ConvertDialog dialog = MakeDialog(c.kind);
      QCOMPARE(dialog.windowTitle(), c.title);
      const QStringList texts = Texts(&dialog);
      for (const QString& t : common) QVERIFY2(texts.contains(t), qPrintable(c.title + ": " + t));
      for (const QString& t : image_only) {
        QCOMPARE(texts.contains(t), c.kind == ConversionKind::kImage);
      }
    }
  }

  // The image formats are those the linked libraries write; the stored
  // format is the one chosen; a choice becomes the record's code.
  void formatListAndChoice() {
    output::ConversionOptions stored = output::DefaultConversionOptions(ConversionKind::kImage);
    stored.output_format = FourCC("PNGf");
    ConvertDialog dialog(stored, {}, {}, false, false, true);
    auto* format = dialog.findChild<QComboBox*>();
    QVERIFY(format != nullptr);
    QVERIFY(format->findText("JPEG") >= 0);
    QVERIFY(format->findText("GIF") >= 0);
    QCOMPARE(format->currentText(), QString("PNG"));
    QCOMPARE(dialog.extension(), std::string("png"));
    format->setCurrentIndex(format->findText("TIFF"));
    const output::ConversionOptions chosen = dialog.options();
    QCOMPARE(chosen.output_format, FourCC("TIFF"));
    QCOMPARE(chosen.formatName(), std::string("TIFF"));
    // Sound formats hold no movie container.
    ConvertDialog sound = MakeDialog(ConversionKind::kSound);
    auto* sound_format = sound.findChild<QComboBox*>();
    for (int i = 0; i < sound_format->count(); ++i) {
      QVERIFY(sound_format->itemData(i).toString() != "mp4");
    }
  }

  // Check boxes write their bytes; bytes the dialog does not show stay.
  void checkBoxesAndKeptBytes() {
    output::ConversionOptions stored = output::DefaultConversionOptions(ConversionKind::kImage);
    stored.flags_9 = {5, 6};
    stored.byte_142 = 0x77;
    ConvertDialog dialog(stored, {}, {}, true, false, true);
    FindByText<QCheckBox>(&dialog, "Preserve color profiles")->setChecked(false);
    FindByText<QCheckBox>(&dialog, "Replace original files")->setChecked(true);
    const output::ConversionOptions o = dialog.options();
    QCOMPARE(int(o.preserve_profiles), 0);
    QCOMPARE(int(o.preserve_metadata), 1);
    QCOMPARE(int(o.flags_9[0]), 5);
    QCOMPARE(int(o.byte_142), 0x77);
    QVERIFY(dialog.replaceOriginals());
    QVERIFY(dialog.selectedOnly());
    // Without a selection the choice is off and cannot be made.
    ConvertDialog none = MakeDialog(ConversionKind::kImage, false);
    QVERIFY(!none.selectedOnly());
    QVERIFY(!FindByText<QCheckBox>(&none, "Selected items only")->isEnabled());
  }

  void sizeAndResolutionDialogsStoreTheirChoice() {
    ConvertDialog dialog = MakeDialog(ConversionKind::kImage);
    WithSubDialog(dialog, &ConvertDialog::editSize, [](QDialog* sub) {
      FindByText<QRadioButton>(sub, "&Scale media to fit:")->setChecked(true);
      const QList<QSpinBox*> spins = sub->findChildren<QSpinBox*>();
      QCOMPARE(spins.size(), 2);
      spins[0]->setValue(1600);
      spins[1]->setValue(1200);
    });
    WithSubDialog(dialog, &ConvertDialog::editResolution, [](QDialog* sub) {
      FindByText<QRadioButton>(sub, "&Custom:")->setChecked(true);
      sub->findChild<QSpinBox*>()->setValue(300);
    });
    WithSubDialog(dialog, &ConvertDialog::editSettings,
                  [](QDialog* sub) { sub->findChild<QSpinBox*>()->setValue(60); });
    const output::ConversionOptions o = dialog.options();
    QCOMPARE(int(o.scale_to_fit), 1);
    QCOMPARE(o.box_width, 1600u);
    QCOMPARE(o.box_height, 1200u);
    QCOMPARE(o.custom_resolution, 1u);
    QCOMPARE(o.resolution, 300u);
    QCOMPARE(dialog.imageSettings().quality, 60);
    // Back to natural bounds: the box is kept for next time.
    WithSubDialog(dialog, &ConvertDialog::editSize,
                  [](QDialog* sub) { FindByText<QRadioButton>(sub, "&Use natural bounds")->setChecked(true); });
    QCOMPARE(int(dialog.options().scale_to_fit), 0);
    QCOMPARE(dialog.options().box_width, 1600u);
  }

  // A preset carries the options and the writer settings to another
  // dialog of the same kind; a preset of another kind changes nothing.
  void presetsCarryTheChoices() {
    ConvertDialog first = MakeDialog(ConversionKind::kImage);
    WithSubDialog(first, &ConvertDialog::editSize, [](QDialog* sub) {
      FindByText<QRadioButton>(sub, "&Scale media to fit:")->setChecked(true);
      const QList<QSpinBox*> spins = sub->findChildren<QSpinBox*>();
      spins[0]->setValue(800);
      spins[1]->setValue(600);
    });
    WithSubDialog(first, &ConvertDialog::editSettings, [](QDialog* sub) { sub->findChild<QSpinBox*>()->setValue(42); });
    FindByText<QCheckBox>(&first, "Preserve EXIF/GPS metadata")->setChecked(false);
    const std::vector<output::PresetRecord> records = first.presetRecords();

    ConvertDialog second = MakeDialog(ConversionKind::kImage);
    QVERIFY(second.applyPreset(records));
    QCOMPARE(second.options().box_width, 800u);
    QCOMPARE(int(second.options().scale_to_fit), 1);
    QCOMPARE(int(second.options().preserve_metadata), 0);
    QCOMPARE(second.imageSettings().quality, 42);
    QVERIFY(!FindByText<QCheckBox>(&second, "Preserve EXIF/GPS metadata")->isChecked());

    ConvertDialog sound = MakeDialog(ConversionKind::kSound);
    const output::ConversionOptions before = sound.options();
    QVERIFY(!sound.applyPreset(records));
    QCOMPARE(output::SerializeConversionOptions(sound.options()), output::SerializeConversionOptions(before));
  }

  void movieSettingsStoreSizeAndQuality() {
    ConvertDialog dialog = MakeDialog(ConversionKind::kMovie);
    if (dialog.extension().empty()) QSKIP("this FFmpeg writes no movie format");
    WithSubDialog(dialog, &ConvertDialog::editSettings, [](QDialog* sub) {
      const QList<QSpinBox*> spins = sub->findChildren<QSpinBox*>();
      QCOMPARE(spins.size(), 3);  // quality, width, height
      spins[0]->setValue(30);
      spins[1]->setValue(640);
      // The format's own sheet: frame rate, sample rate and channels too.
      const QList<QComboBox*> combos = sub->findChildren<QComboBox*>();
      QVERIFY(combos.size() >= 4);  // video codec, frame rate, sound codec, rate, channels
      QComboBox* frame_rate = nullptr;
      for (QComboBox* c : combos) {
        if (c->findText("25 frames a second") >= 0) frame_rate = c;
      }
      QVERIFY(frame_rate != nullptr);
      frame_rate->setCurrentIndex(frame_rate->findText("25 frames a second"));
    });
    QCOMPARE(dialog.avSettings().quality, 30);
    QCOMPARE(dialog.avSettings().width, 640);
    QCOMPARE(dialog.avSettings().height, 0);
    QCOMPARE(dialog.avSettings().frame_rate, 25.0);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ConvertDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "convert_dialog_test.moc"

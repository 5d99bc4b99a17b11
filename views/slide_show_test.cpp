// SPDX-License-Identifier: GPL-3.0-or-later
// The slide show on the offscreen platform, on a clock the tests move by
// hand: the options dialog's codes, the transitions' frames, the placement
// of the scalings, the player's order, timing and keys, and the media view's
// playlist.
#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QPointer>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <set>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "catalog/catalog.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/media_view.h"
#include "views/qt_support.h"
#include "views/screen_awake.h"
#include "views/slide_show_options_dialog.h"
#include "views/slide_show_player.h"

using namespace norvo;
using namespace norvo::views;
using output::MediaScaling;
using output::Transition;

namespace {

QImage Solid(QSize size, const QColor& colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// Left half red, right half green.
QImage Halves(QSize size) {
  QImage image = Solid(size, Qt::red);
  for (int y = 0; y < size.height(); ++y) {
    for (int x = size.width() / 2; x < size.width(); ++x) image.setPixel(x, y, qRgb(0, 255, 0));
  }
  return image;
}

bool Near(QRgb a, QRgb b, int tolerance = 3) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString Rgb(QRgb c) { return QString("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)); }

// A clock the test moves.
struct ManualClock {
  qint64 now = 1000;
  MsClock clock() {
    return [this] { return now; };
  }
};

template <typename Widget>
Widget* ByText(QWidget* root, const QString& text) {
  for (Widget* w : root->findChildren<Widget*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

// A screen saver service on a private session bus: it records what it is
// asked.
class FakeScreenSaver : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public:
  QStringList inhibited;
  QList<uint> released;

 public Q_SLOTS:
  uint Inhibit(const QString& application, const QString& reason) {
    inhibited << application + ": " + reason;
    return 41u + static_cast<uint>(inhibited.size());
  }
  void UnInhibit(uint cookie) { released << cookie; }
};

}  // namespace

class SlideShowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  app::Labels labels_ = app::DefaultLabels();
  QStringList pictures_;  // red, green, blue 64x48 PNG files
  // A private session bus for the whole run, so that no show in the tests
  // talks to the desktop's (empty when dbus-daemon is not installed).
  QProcess bus_;
  QString bus_address_;

  std::unique_ptr<CatalogWindow> windowOf(const QStringList& files) {
    auto document = std::make_unique<app::CatalogDocument>();
    if (!document->createUntitled().ok()) return nullptr;
    for (const QString& path : files) {
      FileSpec spec;
      if (MakeFileSpec(U(path), spec) != err::kNone) return nullptr;
      std::uint32_t id = 0;
      if (catalog::AddPendingItem(**document, spec, &id) != err::kNone) return nullptr;
    }
    return std::make_unique<CatalogWindow>(std::move(document), &labels_);
  }

  std::vector<SlideItem> pictureItems() {
    std::vector<SlideItem> items;
    for (const QString& path : pictures_) items.push_back({path, 0, 0, QFileInfo(path).fileName(), {64, 48}, {}});
    return items;
  }

  // A player of the three pictures on a 160x120 stage, not yet started.
  std::unique_ptr<SlideShowPlayer> player(const output::SlideShowOptions& options, ManualClock& clock,
                                          int start = 0) {
    auto p = std::make_unique<SlideShowPlayer>(pictureItems(), start, options);
    p->setClock(clock.clock());
    p->setSeed(7);
    p->setDesktopServices(false);
    p->resize(160, 120);
    return p;
  }

  // Lets the player take the slide it waits for.
  static void settle(SlideShowPlayer& p) {
    for (int i = 0; i < 3 && p.phase() == SlideShowPlayer::Phase::kWaiting; ++i) {
      p.waitForSlides();
      p.tick();
    }
  }

  // Moves the clock on in steps of 50 ms, the slides taken as they come.
  static void run(SlideShowPlayer& p, ManualClock& clock, qint64 ms) {
    for (qint64 done = 0; done < ms; done += 50) {
      settle(p);
      clock.now += 50;
      p.tick();
      settle(p);
    }
  }

 private Q_SLOTS:
  void initTestCase() {
    bus_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (bus_.waitForStarted(5000) && bus_.waitForReadyRead(5000)) {
      bus_address_ = QString::fromUtf8(bus_.readLine().trimmed());
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus_address_.isEmpty() ? QByteArray("disabled:") : bus_address_.toUtf8());
    InitResources();
    QVERIFY(dir_.isValid());
    app::SetScratchFolder(dir_.path().toStdString());
    QCOMPARE(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    const char* names[] = {"red.png", "green.png", "blue.png"};
    for (int i = 0; i < 3; ++i) {
      const QString path = dir_.path() + "/" + names[i];
      QVERIFY(Solid({64, 48}, colours[i]).save(path));
      pictures_ << path;
    }
  }

  void cleanupTestCase() {
    if (bus_.state() == QProcess::NotRunning) return;
    bus_.kill();
    bus_.waitForFinished(5000);
  }

  // The dialog opens on what the stored codes mean and gives back codes,
  // not list positions; OK keeps the record in both places.
  void optionsDialogStoresCodes() {
    output::SlideShowOptions stored;
    stored.seconds = 75;
    stored.transition_code = 0;
    stored.scaling_code = 13;
    stored.reserved[3] = 0x5A;
    {
      SlideShowOptionsDialog dialog(stored);
      auto* seconds = dialog.findChild<QSpinBox*>();
      QCOMPARE(seconds->value(), 4);
      QCOMPARE(seconds->maximum(), 60);
      QList<QComboBox*> combos = dialog.findChildren<QComboBox*>();
      QCOMPARE(combos.size(), 2);
      QComboBox* transition = combos[0]->count() == 12 ? combos[0] : combos[1];
      QComboBox* scaling = combos[0]->count() == 12 ? combos[1] : combos[0];
      QCOMPARE(transition->currentText(), QString("None"));
      QCOMPARE(scaling->currentText(), QString("200%"));
      transition->setCurrentIndex(transition->findText("Cross fade"));
      scaling->setCurrentIndex(scaling->findText("25%"));
      ByText<QCheckBox>(&dialog, "Display media info")->setChecked(true);
      ByText<QCheckBox>(&dialog, "Random")->setChecked(true);
      dialog.setColour(QColor(255, 0, 0));
      const output::SlideShowOptions chosen = dialog.options();
      QCOMPARE(int{chosen.transition_code}, 12);
      QCOMPARE(int{chosen.scaling_code}, 10);
      QCOMPARE(int{chosen.seconds}, 4);
      QCOMPARE(int{chosen.media_info}, 1);
      QCOMPARE(int{chosen.random}, 1);
      QCOMPARE(int{chosen.red}, 0xFFFF);
      QCOMPARE(int{chosen.green}, 0);
      QCOMPARE(int{chosen.reserved[3]}, 0x5A);
      for (const char* button : {"Run Slide Show", "OK", "Cancel"}) QVERIFY(ByText<QPushButton>(&dialog, button));
      QVERIFY(!dialog.runRequested());
      QTest::mouseClick(ByText<QPushButton>(&dialog, "Run Slide Show"), Qt::LeftButton);
      QVERIFY(dialog.runRequested());
      QCOMPARE(dialog.result(), int{QDialog::Accepted});
    }
    stored.seconds = 0;
    SlideShowOptionsDialog zero(stored);
    QCOMPARE(zero.findChild<QSpinBox*>()->value(), 4);

    // Kept as the default and as the catalog's own; the catalog's wins.
    auto w = windowOf({});
    QVERIFY(w);
    app::PreferencesBlock preferences = app::PreferencesBlock::Defaults();
    QCOMPARE(SlideShowOptionsFor(*w, preferences), output::SlideShowOptions{});
    output::SlideShowOptions chosen;
    chosen.setTransition(Transition::kRadial);
    QVERIFY(!w->catalog().changed());
    KeepSlideShowOptions(*w, &preferences, chosen);
    QVERIFY(w->catalog().changed());
    QCOMPARE(int{preferences.u8(app::pref::kSlideShowOptions)}, 13);
    QCOMPARE(w->catalog().slide_show_options, output::SerializeSlideShowOptions(chosen));
    app::PreferencesBlock other = app::PreferencesBlock::Defaults();
    QCOMPARE(SlideShowOptionsFor(*w, other), chosen);
  }

  // The command: the dialog opens on the catalog's record, OK keeps the
  // choice in both places, "Run Slide Show" also starts the show.
  void optionsCommandKeepsAndRuns() {
    auto w = windowOf(pictures_);
    QVERIFY(w);
    app::PreferencesBlock preferences = app::PreferencesBlock::Defaults();
    auto answer = [](const char* transition, const char* button) {
      QTimer::singleShot(0, [transition, button] {
        auto* dialog = qobject_cast<SlideShowOptionsDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
          if (combo->findText(transition) >= 0) combo->setCurrentIndex(combo->findText(transition));
        }
        QTest::mouseClick(ByText<QPushButton>(dialog, button), Qt::LeftButton);
      });
    };
    answer("Iris circle", "OK");
    RunSlideShowOptions(*w, &preferences);
    QCOMPARE(int{preferences.u8(app::pref::kSlideShowOptions)}, 8);
    QCOMPARE(output::CatalogSlideShowOptions(w->catalog().slide_show_options)->transition(), Transition::kIrisCircle);
    QVERIFY(w->catalog().changed());

    answer("Blinds vertical", "Cancel");
    RunSlideShowOptions(*w, &preferences);
    QCOMPARE(int{preferences.u8(app::pref::kSlideShowOptions)}, 8);

    answer("Radial", "Run Slide Show");
    RunSlideShowOptions(*w, &preferences);
    QCOMPARE(int{w->catalog().slide_show_options[0]}, 13);
    SlideShowPlayer* show = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* player = qobject_cast<SlideShowPlayer*>(top)) show = player;
    }
    QVERIFY(show);
    QCOMPARE(show->currentTransition() == Transition::kRadial || show->phase() == SlideShowPlayer::Phase::kWaiting,
             true);
    QPointer<SlideShowPlayer> alive(show);
    QTest::keyClick(show, Qt::Key_Escape);
    QTRY_VERIFY(alive.isNull());  // the show deletes itself when it ends
  }

  // Halfway through, each transition shows the old slide (red) and the new
  // one (blue) where it should.
  void transitionsAtHalfway_data() {
    QTest::addColumn<int>("transition");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QList<QPoint>>("fresh");  // where the new slide shows
    QTest::addColumn<QList<QPoint>>("old");    // where the old one still shows
    auto row = [](const char* name, Transition t, double p, QList<QPoint> fresh, QList<QPoint> old) {
      QTest::newRow(name) << static_cast<int>(t) << p << fresh << old;
    };
    // Stage 200 x 100.
    row("slide left to right", Transition::kSlideLeftToRight, 0.5, {{5, 50}, {95, 50}}, {{105, 50}, {195, 50}});
    row("slide top to bottom", Transition::kSlideTopToBottom, 0.5, {{100, 5}, {100, 45}}, {{100, 55}, {100, 95}});
    row("barn horizontal", Transition::kBarnHorizontal, 0.5, {{55, 50}, {145, 50}, {100, 0}},
        {{45, 50}, {155, 50}, {5, 5}});
    row("barn vertical", Transition::kBarnVertical, 0.5, {{100, 30}, {0, 70}}, {{100, 20}, {100, 80}});
    // Eight slats of 12.5 pixels, each half open.
    row("blinds horizontal", Transition::kBlindsHorizontal, 0.5, {{100, 2}, {100, 39}, {10, 89}},
        {{100, 9}, {100, 46}, {10, 97}});
    row("blinds vertical", Transition::kBlindsVertical, 0.5, {{3, 50}, {53, 50}, {178, 10}},
        {{20, 50}, {70, 50}, {195, 10}});
    // Radius half of the half diagonal, about 55.9.
    row("iris circle", Transition::kIrisCircle, 0.5, {{100, 50}, {150, 50}, {100, 95}}, {{160, 50}, {2, 2}, {198, 98}});
    // A square of 100 centred.
    row("iris square", Transition::kIrisSquare, 0.5, {{55, 5}, {145, 95}}, {{45, 50}, {155, 50}});
    // A quarter sweep from twelve o'clock: the top right quarter.
    row("radial quarter", Transition::kRadial, 0.25, {{150, 20}, {105, 5}}, {{150, 80}, {50, 20}, {50, 80}});
    row("radial half", Transition::kRadial, 0.5, {{150, 20}, {150, 80}}, {{50, 20}, {50, 80}});
    row("none", Transition::kNone, 0.5, {{0, 0}, {199, 99}}, {});
    row("cross fade start", Transition::kCrossFade, 0.0, {}, {{0, 0}, {199, 99}});
    row("cross fade end", Transition::kCrossFade, 1.0, {{0, 0}, {199, 99}}, {});
  }
  void transitionsAtHalfway() {
    QFETCH(int, transition);
    QFETCH(double, progress);
    QFETCH(QList<QPoint>, fresh);
    QFETCH(QList<QPoint>, old);
    const QImage from = Solid({200, 100}, Qt::red);
    const QImage to = Solid({200, 100}, Qt::blue);
    const QImage frame = ComposeFrame(from, to, static_cast<Transition>(transition), progress);
    for (const QPoint& at : fresh) {
      QVERIFY2(Near(frame.pixel(at), qRgb(0, 0, 255)), qPrintable(QString("new at %1,%2 is %3").arg(at.x()).arg(at.y()).arg(Rgb(frame.pixel(at)))));
    }
    for (const QPoint& at : old) {
      QVERIFY2(Near(frame.pixel(at), qRgb(255, 0, 0)), qPrintable(QString("old at %1,%2 is %3").arg(at.x()).arg(at.y()).arg(Rgb(frame.pixel(at)))));
    }
  }

  void crossFadeAtHalfwayIsTheMean() {
    const QImage from = Solid({40, 30}, QColor(200, 0, 40));
    const QImage to = Solid({40, 30}, QColor(0, 100, 240));
    const QImage frame = ComposeFrame(from, to, Transition::kCrossFade, 0.5);
    for (const QPoint& at : {QPoint(0, 0), QPoint(20, 15), QPoint(39, 29)}) {
      QVERIFY2(Near(frame.pixel(at), qRgb(100, 50, 140)), qPrintable(Rgb(frame.pixel(at))));
    }
  }

  void randomPicksARealTransition() {
    std::mt19937 random(1);
    std::set<Transition> seen;
    for (int i = 0; i < 400; ++i) {
      const Transition t = PickTransition(Transition::kRandom, random);
      QVERIFY(t != Transition::kNone && t != Transition::kRandom);
      seen.insert(t);
    }
    QCOMPARE(seen.size(), std::size_t{10});
    QCOMPARE(PickTransition(Transition::kIrisSquare, random), Transition::kIrisSquare);
  }

  // A 100 x 50 picture on a 300 x 200 stage.
  void scalingsPlaceThePicture_data() {
    QTest::addColumn<int>("scaling");
    QTest::addColumn<QRectF>("placed");
    auto row = [](const char* name, MediaScaling s, QRectF r) { QTest::newRow(name) << static_cast<int>(s) << r; };
    row("actual size", MediaScaling::kActualSize, {100, 75, 100, 50});
    row("scale to fit grows", MediaScaling::kScaleToFit, {0, 25, 300, 150});
    row("fit width", MediaScaling::kFitWidth, {0, 25, 300, 150});
    row("fit height", MediaScaling::kFitHeight, {-50, 0, 400, 200});
    row("pin smaller side", MediaScaling::kPinSmallerSide, {-50, 0, 400, 200});
    row("pin larger side", MediaScaling::kPinLargerSide, {0, 25, 300, 150});
    row("25%", MediaScaling::kPercent25, {137.5, 93.75, 25, 12.5});
    row("200%", MediaScaling::kPercent200, {50, 50, 200, 100});
    row("1600%", MediaScaling::kPercent1600, {-650, -300, 1600, 800});
  }
  void scalingsPlaceThePicture() {
    QFETCH(int, scaling);
    QFETCH(QRectF, placed);
    QCOMPARE(PlacedRect({100, 50}, {300, 200}, static_cast<MediaScaling>(scaling)), placed);
  }

  void scaleToFitShrinksLargePictures() {
    QCOMPARE(PlacedRect({4000, 3000}, {200, 100}, MediaScaling::kScaleToFit), QRectF(100.0 / 3 * 1, 0, 400.0 / 3, 100));
    QCOMPARE(PlacedRect({100, 400}, {300, 200}, MediaScaling::kPinSmallerSide), QRectF(0, -500, 300, 1200));
  }

  void composedSlidesShowWhatThePlacementSays() {
    const QColor background(0, 0, 255);
    // 200%: the red half on the left, green on the right, background round it.
    const QImage zoomed = ComposeSlide(Halves({100, 50}), {300, 200}, MediaScaling::kPercent200, background);
    QCOMPARE(zoomed.size(), QSize(300, 200));
    QVERIFY(Near(zoomed.pixel(45, 100), qRgb(0, 0, 255)));
    QVERIFY(Near(zoomed.pixel(55, 100), qRgb(255, 0, 0)));
    QVERIFY(Near(zoomed.pixel(145, 100), qRgb(255, 0, 0)));
    QVERIFY(Near(zoomed.pixel(155, 100), qRgb(0, 255, 0)));
    QVERIFY(Near(zoomed.pixel(245, 100), qRgb(0, 255, 0)));
    QVERIFY(Near(zoomed.pixel(150, 45), qRgb(0, 0, 255)));
    QVERIFY(Near(zoomed.pixel(150, 155), qRgb(0, 0, 255)));

    // Tile: actual size from a centred tile to every edge, no background left.
    const QImage tiled = ComposeSlide(Halves({100, 50}), {300, 200}, MediaScaling::kTile, background);
    for (int y = 0; y < 200; y += 7) {
      for (int x = 0; x < 300; x += 5) {
        const QRgb expected = (x % 100) < 50 ? qRgb(255, 0, 0) : qRgb(0, 255, 0);
        QVERIFY2(Near(tiled.pixel(x, y), expected), qPrintable(QString("%1,%2").arg(x).arg(y)));
      }
    }
    // Fit width on a tall stage: full width, background above and below.
    const QImage wide = ComposeSlide(Halves({50, 25}), {100, 200}, MediaScaling::kFitWidth, background);
    QVERIFY(Near(wide.pixel(10, 80), qRgb(255, 0, 0)));
    QVERIFY(Near(wide.pixel(90, 120), qRgb(0, 255, 0)));
    QVERIFY(Near(wide.pixel(50, 60), qRgb(0, 0, 255)));
    QVERIFY(Near(wide.pixel(50, 140), qRgb(0, 0, 255)));
  }

  void sequentialOrderEndsOrWraps() {
    SlideOrder once(3, 1, false, false, 1);
    QCOMPARE(once.current(), 1);
    QCOMPARE(once.next(), std::optional<int>(2));
    QCOMPARE(once.next(), std::optional<int>());
    QCOMPARE(once.current(), 2);
    QCOMPARE(once.previous(), std::optional<int>(1));
    QCOMPARE(once.previous(), std::optional<int>());

    SlideOrder looping(3, 2, false, true, 1);
    QList<int> seen{looping.current()};
    for (int i = 0; i < 5; ++i) seen << *looping.next();
    QCOMPARE(seen, (QList<int>{2, 0, 1, 2, 0, 1}));
  }

  // Every item once a round, the first round from the chosen item, never the
  // same item twice in a row.
  void randomOrderShowsEachItemOncePerRound() {
    for (std::uint32_t seed : {1u, 2u, 3u, 99u}) {
      SlideOrder order(7, 4, true, true, seed);
      QCOMPARE(order.current(), 4);
      int last = order.current();
      std::set<int> round{last};
      for (int step = 1; step < 7 * 6; ++step) {
        const int item = *order.next();
        QVERIFY(item != last);
        last = item;
        if (step % 7 == 0) {
          QCOMPARE(round.size(), std::size_t{7});
          round.clear();
        }
        QVERIFY2(round.insert(item).second, "an item came twice in one round");
      }
    }
    SlideOrder once(4, 0, true, false, 5);
    std::set<int> all{once.current()};
    while (std::optional<int> item = once.next()) all.insert(*item);
    QCOMPARE(all.size(), std::size_t{4});
  }

  // The player on a hand-moved clock: the transition's midpoint, the slide's
  // time, the next slide, the end after the last.
  void playerTimesEachSlide() {
    ManualClock clock;
    output::SlideShowOptions options;
    options.setTransition(Transition::kCrossFade);
    options.setScaling(MediaScaling::kScaleToFit);
    options.seconds = 3;
    auto p = player(options, clock);
    QSignalSpy shown(p.get(), &SlideShowPlayer::itemShown);
    QSignalSpy finished(p.get(), &SlideShowPlayer::finished);
    p->start();
    settle(*p);
    QCOMPARE(p->phase(), SlideShowPlayer::Phase::kTransition);
    QCOMPARE(p->currentItem(), 0);
    clock.now += 500;  // half of the one-second transition, from the black stage to red
    p->tick();
    QCOMPARE(p->progress(), 0.5);
    const QImage half = p->frame();
    QCOMPARE(half.size(), QSize(160, 120));
    QVERIFY2(Near(half.pixel(80, 60), qRgb(128, 0, 0)), qPrintable(Rgb(half.pixel(80, 60))));
    QVERIFY(Near(half.pixel(2, 2), qRgb(128, 0, 0)));  // 64x48 fitted to 160x120 fills the stage
    clock.now += 500;
    p->tick();
    QCOMPARE(p->phase(), SlideShowPlayer::Phase::kShowing);
    QVERIFY(Near(p->frame().pixel(80, 60), qRgb(255, 0, 0)));
    clock.now += 2999;  // three seconds after the transition
    p->tick();
    QCOMPARE(p->currentItem(), 0);
    clock.now += 1;
    p->tick();
    settle(*p);
    QCOMPARE(p->currentItem(), 1);
    QCOMPARE(p->phase(), SlideShowPlayer::Phase::kTransition);
    // From here each slide takes its transition and its three seconds.
    run(*p, clock, 3950);
    QCOMPARE(p->currentItem(), 1);
    run(*p, clock, 50);
    QCOMPARE(p->currentItem(), 2);
    run(*p, clock, 3950);
    QCOMPARE(finished.count(), 0);
    run(*p, clock, 50);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(p->phase(), SlideShowPlayer::Phase::kEnded);
    QCOMPARE(shown.count(), 3);
  }

  void continuousShowWrapsAround() {
    ManualClock clock;
    output::SlideShowOptions options;
    options.setTransition(Transition::kNone);
    options.seconds = 1;
    options.continuous = 1;
    auto p = player(options, clock, 1);
    QSignalSpy shown(p.get(), &SlideShowPlayer::itemShown);
    p->start();
    for (int i = 0; i < 5; ++i) {
      settle(*p);
      clock.now += 1000;
      p->tick();
    }
    settle(*p);
    QList<int> items;
    for (const QList<QVariant>& args : shown) items << args[0].toInt();
    QCOMPARE(items, (QList<int>{1, 2, 0, 1, 2, 0}));
    QVERIFY(p->phase() != SlideShowPlayer::Phase::kEnded);
  }

  void interactiveKeysStepAndEnd() {
    ManualClock clock;
    output::SlideShowOptions options;
    options.setTransition(Transition::kBarnVertical);
    options.interactive = 1;
    auto p = player(options, clock);
    p->start();
    settle(*p);
    QTest::keyClick(p.get(), Qt::Key_Right);
    settle(*p);
    QCOMPARE(p->currentItem(), 1);
    QTest::keyClick(p.get(), Qt::Key_Space);
    settle(*p);
    QCOMPARE(p->currentItem(), 2);
    QTest::keyClick(p.get(), Qt::Key_Left);
    settle(*p);
    QCOMPARE(p->currentItem(), 1);
    QTest::mouseClick(p.get(), Qt::LeftButton);
    settle(*p);
    QCOMPARE(p->currentItem(), 2);
    // After the quick steps the stage shows the blue picture, whole.
    clock.now += 1000;
    p->tick();
    QCOMPARE(p->phase(), SlideShowPlayer::Phase::kShowing);
    QVERIFY(Near(p->frame().pixel(80, 60), qRgb(0, 0, 255)));
    QTest::keyClick(p.get(), Qt::Key_A);  // not a key of the show
    QVERIFY(p->phase() != SlideShowPlayer::Phase::kEnded);
    QTest::keyClick(p.get(), Qt::Key_Escape);
    QCOMPARE(p->phase(), SlideShowPlayer::Phase::kEnded);

    options.interactive = 0;
    auto q = player(options, clock);
    q->start();
    settle(*q);
    QTest::keyClick(q.get(), Qt::Key_Right);
    QCOMPARE(q->phase(), SlideShowPlayer::Phase::kEnded);
  }

  // "Display media info" draws the name, size and caption over the slide.
  void mediaInfoOverlayIsDrawn() {
    SlideItem item{"", 0, 0, "IMG_0001.JPG", {4000, 3000}, "Harbour at dawn"};
    QCOMPARE(SlideShowPlayer::InfoLines(item),
             (QStringList{"IMG_0001.JPG", "4000 x 3000 pixels", "Harbour at dawn"}));
    item.dimensions = {};
    item.caption.clear();
    QCOMPARE(SlideShowPlayer::InfoLines(item), QStringList{"IMG_0001.JPG"});

    ManualClock clock;
    output::SlideShowOptions options;
    options.setTransition(Transition::kNone);
    options.red = options.green = options.blue = 0xFFFF;
    options.media_info = 1;
    auto p = player(options, clock);
    p->resize(400, 300);
    p->start();
    settle(*p);
    clock.now += 10;
    p->tick();
    const QImage painted = p->grab().toImage();
    const QImage bare = p->frame();
    // The box sits at the bottom left; the top right is the bare slide.
    int differing = 0;
    for (int y = 200; y < 300; ++y) {
      for (int x = 0; x < 200; ++x) differing += painted.pixel(x, y) != bare.pixel(x, y);
    }
    QVERIFY2(differing > 500, qPrintable(QString::number(differing)));
    QCOMPARE(painted.pixel(390, 10), bare.pixel(390, 10));
  }

  void playlistPreferencesValidate() {
    app::PreferencesBlock block = app::PreferencesBlock::Defaults();
    QVERIFY(PlaylistModeOf(block));
    QCOMPARE(StillsPauseOf(block), 4);
    KeepPlaylistMode(block, false);
    KeepStillsPause(block, 8);
    QCOMPARE(int{block.u8(app::pref::kPlaylistMode)}, 1);
    QVERIFY(!PlaylistModeOf(block));
    QCOMPARE(StillsPauseOf(block), 8);
    block.setU8(app::pref::kPlaylistMode, 7);
    block.setU8(app::pref::kStillsPause, 5);
    QVERIFY(PlaylistModeOf(block));
    QCOMPARE(StillsPauseOf(block), 4);
    app::ValidatePreferences(block, std::nullopt);
    QCOMPARE(int{block.u8(app::pref::kPlaylistMode)}, 0);
    QCOMPARE(int{block.u8(app::pref::kStillsPause)}, 4);
  }

  // Playlist mode on, Long pause, three stills: each stays 8 seconds, then
  // the first follows the third.
  void playlistStepsThroughStillsAndWraps() {
    auto w = windowOf(pictures_);
    QVERIFY(w);
    ManualClock clock;
    MediaView* media = w->mediaView();
    media->setClock(clock.clock());
    app::PreferencesBlock block = app::PreferencesBlock::Defaults();
    KeepStillsPause(block, 8);
    media->applyPlaylistPreferences(block);
    QVERIFY(media->playlistMode());
    QCOMPARE(media->stillsPause(), 8);
    w->setView(ViewKind::kMedia);
    QCOMPARE(w->selection()->currentIndex().row(), 0);
    media->togglePlay();
    QVERIFY(media->playing());
    QList<int> rows;
    for (int second = 1; second <= 8 * 4; ++second) {
      clock.now += 1000;
      media->pollPlaylist();
      rows << w->selection()->currentIndex().row();
    }
    // Seconds 1-7 on the first, the 8th moves on, and so on round.
    QList<int> expected;
    for (int second = 1; second <= 32; ++second) expected << (second / 8) % 3;
    QCOMPARE(rows, expected);

    // Half a tick short of the pause does not move on.
    clock.now += 8000 - 17;
    media->pollPlaylist();
    QCOMPARE(w->selection()->currentIndex().row(), 1);

    // With playlist mode off a still does not play, and playing stops.
    media->setPlaylistMode(false);
    QVERIFY(!media->playing());
    media->togglePlay();
    QVERIFY(!media->playing());
    clock.now += 60000;
    media->pollPlaylist();
    QCOMPARE(w->selection()->currentIndex().row(), 1);
  }

  // The show keeps the screen awake through the desktop's service and lets
  // go at the end; without the service nothing happens.
  void screenKeptAwakeWhileTheShowRuns() {
    if (bus_address_.isEmpty()) QSKIP("no dbus-daemon to run a session bus");
    // The inhibitor runs on a thread of its own, as across processes: the
    // service answers from this thread's event loop.
    auto inhibit = [] {
      bool active = false;
      QThread* caller = QThread::create([&active] {
        ScreenAwake awake(QStringLiteral("Slide show"));
        active = awake.active();
      });
      caller->start();
      while (!caller->wait(10)) QCoreApplication::processEvents();
      delete caller;
      return active;
    };
    {
      QDBusConnection session = QDBusConnection::connectToBus(bus_address_, QStringLiteral("norvo-test"));
      QVERIFY(session.isConnected());
      QVERIFY2(!inhibit(), "no screen saver service: nothing happens");
      FakeScreenSaver saver;
      QVERIFY(session.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                     QDBusConnection::ExportAllSlots));
      QVERIFY(session.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
      QVERIFY(inhibit());
      QTRY_COMPARE_WITH_TIMEOUT(saver.released.size(), 1, 5000);
      QCOMPARE(saver.inhibited.size(), 1);
      QVERIFY(saver.inhibited[0].endsWith(": Slide show"));
      QCOMPARE(saver.released[0], 42u);
      session.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("norvo-test"));
  }

  // The items a show of a window runs through, from the selected one.
  void slideShowItemsFollowTheView() {
    auto w = windowOf(pictures_);
    QVERIFY(w);
    w->selection()->setCurrentIndex(w->model()->index(2, 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    int start = -1;
    const std::vector<SlideItem> items = SlideShowItems(*w, &start);
    QCOMPARE(items.size(), std::size_t{3});
    QCOMPARE(start, 2);
    for (std::size_t i = 0; i < items.size(); ++i) {
      QCOMPARE(items[i].path, pictures_[static_cast<int>(i)]);
      QCOMPARE(items[i].name, QFileInfo(pictures_[static_cast<int>(i)]).fileName());
    }
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SlideShowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "slide_show_test.moc"

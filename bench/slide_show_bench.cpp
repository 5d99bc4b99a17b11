// SPDX-License-Identifier: GPL-3.0-or-later
// slide_show_bench: the slide show player on the offscreen platform.
//
//   1. A cross fade between two 24-megapixel photos (6000 x 4000 JPEGs made
//      from the test photos) on a 1920 x 1080 stage: the slides are prepared
//      as the player prepares them (decoded and scaled to the stage on its
//      worker), then each frame of the one-second fade is ticked and painted
//      on the interface thread. The worst frame, against one 60 Hz frame
//      (16.7 ms), as a ratio.
//   2. Preparing one such slide (decode of the 24 MP JPEG, scaling to the
//      stage) on the worker, against the four seconds a slide shows by
//      default: it has to be ready before the slide before it ends.
//
//   ./slide_show_bench [--runs N] [--dir DIR]
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/catalog_document.h"
#include "bench/bench_support.h"
#include "imaging/pixel_buffer.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "views/qt_support.h"
#include "views/slide_show_player.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;
constexpr QSize kStage(1920, 1080);
constexpr QSize kPhoto(6000, 4000);

// A 24-megapixel JPEG from a small test photo (decoded by the project's
// reader, enlarged, written by Qt's JPEG writer).
std::string MakePhoto(const std::string& source, const fs::path& out) {
  if (fs::exists(out)) return out.string();
  imaging::PixelBuffer pixels;
  bench::Check(media::MakePreview(source, 0, 0, 0, &pixels), "decoding " + source);
  const QImage big = views::ImageFromPixels(pixels).scaled(kPhoto, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (!big.save(QString::fromStdString(out.string()), "JPEG", 92)) {
    throw std::runtime_error("cannot write " + out.string());
  }
  return out.string();
}

struct Run {
  double worst_frame = 0;
  double median_frame = 0;
  double prepare = 0;  // ms until both slides were ready
  int frames = 0;
};

Run CrossFade(const std::vector<std::string>& photos) {
  std::vector<views::SlideItem> items;
  for (const std::string& p : photos) items.push_back({views::Q(p), 0, 0, views::Q(p), kPhoto, {}});
  output::SlideShowOptions options;
  options.setTransition(output::Transition::kCrossFade);
  options.setScaling(output::MediaScaling::kScaleToFit);
  qint64 now = 0;
  views::SlideShowPlayer player(items, 0, options);
  player.setClock([&now] { return now; });
  player.setDesktopServices(false);
  player.setGeometry(QRect(QPoint(0, 0), kStage));
  player.show();

  Run run;
  QElapsedTimer prepare;
  prepare.start();
  player.start();  // the first slide and the next one are prepared on the worker
  player.waitForSlides();
  run.prepare = static_cast<double>(prepare.nsecsElapsed()) / 1e6;
  player.tick();
  now += 1000;  // the first slide's own transition is over
  player.tick();
  player.goNext();
  player.waitForSlides();
  player.tick();
  if (player.phase() != views::SlideShowPlayer::Phase::kTransition) throw std::runtime_error("no transition");

  // The frames are painted as the window system's backing store would have
  // them painted: the player's paint event into a stage-sized image.
  // The stage showed the first slide before: that frame is painted first,
  // untimed, as the window had painted it.
  QImage backing(kStage, QImage::Format_RGB32);
  player.render(&backing);
  std::vector<double> frames;
  while (player.phase() == views::SlideShowPlayer::Phase::kTransition) {
    now += 16;
    QElapsedTimer frame;
    frame.start();
    player.tick();
    player.render(&backing);
    frames.push_back(static_cast<double>(frame.nsecsElapsed()) / 1e6);
  }
  run.frames = static_cast<int>(frames.size());
  run.worst_frame = *std::max_element(frames.begin(), frames.end());
  run.median_frame = bench::Median(frames);
  player.end();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  views::InitResources();
  try {
    const bench::BenchArgs args(argc, argv, {"--runs", "--dir"}, {}, "slide_show_bench [--runs N] [--dir DIR]");
    const int runs = args.number("--runs", 5, 1);
    fs::path dir = args.text("--dir");
    if (dir.empty()) dir = fs::temp_directory_path() / "norvo-slide-show-bench";
    fs::create_directories(dir);
    app::SetScratchFolder(dir.string());
    bench::Check(media::InitMediaTypes(media::FindPlatformComponents()), "media types");

    const fs::path photos = fs::path(NORVO_TESTDATA_DIR) / "photos";
    const std::vector<std::string> big = {MakePhoto((photos / "DSCN0010.jpg").string(), dir / "a24mp.jpg"),
                                          MakePhoto((photos / "image00971.jpg").string(), dir / "b24mp.jpg")};

    std::vector<double> worst, median, prepare;
    int frames = 0;
    for (int r = 0; r < runs; ++r) {
      const Run run = CrossFade(big);
      worst.push_back(run.worst_frame);
      median.push_back(run.median_frame);
      prepare.push_back(run.prepare / 2);  // two slides prepared one after the other
      frames = run.frames;
    }
    const double worst_all = *std::max_element(worst.begin(), worst.end());
    std::printf("cross fade of two 24 MP photos on a 1920x1080 stage, %d frames a run, %d runs: worst frame %.2f ms, "
                "median frame %.2f ms; worst / one 60 Hz frame (16.7 ms) %.2f\n",
                frames, runs, worst_all, bench::Median(median), worst_all / kFrameMs);
    const double prep = bench::Median(prepare);
    std::printf("prepare one 24 MP slide (decode, scale to the stage) on the worker: %.0f ms; / 4 s slide time %.3f\n",
                prep, prep / 4000.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "slide_show_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}

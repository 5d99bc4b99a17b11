// SPDX-License-Identifier: GPL-3.0-or-later
// norvo: the desktop program. Start-up is the shared InitInstance (system
// check, single instance with hand-over, settings, recent list ...); then
// the main window opens what the command line or the preferences ask for,
// and ExitInstance keeps the settings when the program ends.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include "app/startup.h"
#include "views/main_window.h"
#include "views/qt_support.h"

int main(int argc, char** argv) {
  using namespace norvo;
  QApplication application(argc, argv);
  views::InitResources();
  QApplication::setApplicationName(QStringLiteral("Norvo Media"));
  QApplication::setApplicationVersion(QStringLiteral(NORVO_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("norvo"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/norvo/norvo.svg")));

  app::StartupOptions options;
  for (int i = 0; i < argc; ++i) options.args.emplace_back(argv[i]);
  if (const QScreen* screen = QApplication::primaryScreen()) {
    options.screen = app::ScreenSize{screen->availableGeometry().width(), screen->availableGeometry().height()};
  }
  app::StartupState state = app::InitInstance(options);
  switch (state.outcome) {
    case app::StartupOutcome::kHandedOver: return 0;
    case app::StartupOutcome::kFailed:
      QMessageBox::critical(nullptr, QStringLiteral("Norvo Media"), views::Q(state.failure));
      return 1;
    case app::StartupOutcome::kRun: break;
  }

  views::MainWindow window(&state);
  window.show();
  for (const std::string& warning : state.warnings) {
    QMessageBox::warning(&window, QStringLiteral("Norvo Media"), views::Q(warning));
  }
  // What the command line asks for; else, by preference, the last catalog;
  // else an empty catalog to import into.
  QTimer::singleShot(0, &window, [&] {
    window.openFromCommandLine(options.args);
    if (window.catalogWindows().empty() && state.reopen_catalog) window.openCatalog(views::Q(*state.reopen_catalog));
    if (window.catalogWindows().empty()) window.newCatalog();
    if (state.first_run) window.trigger("help.getting_started");
    // The automatic update check runs off the interface thread once the
    // window is up, and speaks only of news.
    if (state.preferences.preferences.u8(app::pref::kNoUpdateCheck) != 1) {
      window.checkForUpdates(false);
    }
  });
  const int result = QApplication::exec();
  if (ErrorCode e = app::ExitInstance(state); e != err::kNone) {
    // The window is gone: the terminal, if any, is the one place left to say so.
    std::fprintf(stderr, "norvo: the settings could not be saved (error %d)\n", static_cast<int>(e));
    return result != 0 ? result : 1;
  }
  return result;
}

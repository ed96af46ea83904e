// Velmora: plays a video and keeps its last frames to be looked at again.
#include <QApplication>
#include <QLocale>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/frm_main.h"
#include "app/main_window.h"
#include "app/qt_live_dialogs.h"
#include "capture/qt_client_area.h"
#include "capture/qt_frame_files.h"
#include "settings/config_store.h"
#include "support/qt_desktop.h"
#include "playback/mpv_player.h"
#include "base/qt_timer_host.h"
#include "base/shutdown_signals.h"

using namespace velmora;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));

    QtTimerHost timers;
    QtDesktop desktop;

    MpvOptions options;
    if (const char* ao = std::getenv("VELMORA_AO")) options.audioOutput = ao;
    auto playerOwner = std::make_unique<MpvPlayer>(nullptr, options);
    MpvPlayer* player = playerOwner.get();
    const auto videoImage = [player]() -> const QImage* { return &player->videoImage(); };
    const auto videoRect = [player] { return player->videoRect(); };

    ConfigStore settings(ConfigStore::resolvePath(programFolder()), desktop);

    // The window shows the player as its child; it hands it back when it goes.
    MainWindow window(player);
    desktop.setParentWindow(&window);
    QtClientArea clientArea(window.clientArea(), player, videoImage, videoRect);

    FrmMain frm(timers, desktop, *player, settings, clientArea);
    QtFrameFiles frameFiles(&window);
    frm.setFrameFiles(&frameFiles);
    QtLiveDialogs liveDialogs(&window);
    frm.setLiveDialogs(&liveDialogs);
    desktop.setAboutBox(timers, frm.appPath);
    frm.decimalSeparator = QLocale::system().decimalPoint().toStdString();
    window.bind(frm);
    desktop.setDialogs(&frm.frmOptions, &frm.frmError);

    // The command line as one text: the arguments joined by single blanks,
    // byte for byte, so that file names in any encoding open.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }

    // A logout or Ctrl+C ends the program as File > Exit does: the window's
    // size and zoom are stored.
    // Message boxes and dialogs close too, also those of the start-up
    // before the event loop runs (quit() alone would not end them).
    ShutdownSignals shutdown([&frm] {
        frm.mnuFileExit_Click();
        QApplication::closeAllWindows();
        QApplication::quit();
    });

    frm.Form_Load(commandLine);
    if (frm.unloaded()) return 0;
    window.show();
    return QApplication::exec();
}

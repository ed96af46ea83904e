// The options and error dialogs on Qt, driven through the main window as a
// user would, and the bug report handed to a fake xdg-open.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <functional>

#include "capture/qt_frame_files.h"
#include "app/qt_live_dialogs.h"
#include "support/event_loop.h"
#include "support/fake_video_devices.h"
#include "support/fake_xdg_open.h"
#include "support/files.h"
#include "support/qt_desktop.h"
#include "support/window_on_fakes.h"

namespace velmora::testing {
namespace {

class DialogTest : public ::testing::Test, protected WindowOnFakes<QtDesktop> {
protected:
    void SetUp() override {
        desktop.setParentWindow(window.get());
        desktop.setDialogs(&frm->frmOptions, &frm->frmError);
        frm->setLiveDialogs(&live);
        player.openable["/v/clip.avi"] = {320, 310};
        settings.values["StartCount"] = "20";
        frm->Form_Load("/v/clip.avi");
        window->show();
    }

    // Runs `act` on the modal dialog once it is up; the dialog must close.
    void onDialog(std::function<void(QDialog&)> act) {
        QTimer::singleShot(0, [this, act] {
            ASSERT_TRUE(waitUntil([] { return QApplication::activeModalWidget() != nullptr; }, 5000));
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            act(*dlg);
            // Whatever happened, the modal loop must end for the test to go on.
            if (dlg->isVisible()) {
                ADD_FAILURE() << "the dialog stayed open";
                dlg->done(0);
            }
        });
    }
    void menu(const char* name) { window->findChild<QAction*>(QString::fromLatin1(name))->trigger(); }

    QtLiveDialogs live{window.get()};
};

QRadioButton* option(QDialog& dlg, int index) {
    for (auto* o : dlg.findChildren<QRadioButton*>())
        if (o->property("index").toInt() == index) return o;
    return nullptr;
}

TEST_F(DialogTest, OptionsCloseStoresTheChoiceAndTheCloseBoxDropsIt) {
    ASSERT_EQ(player.playState(), play_state::kPlaying);
    onDialog([&](QDialog& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Options");
        EXPECT_EQ(player.playState(), play_state::kPaused);  // paused before it shows
        ASSERT_TRUE(option(dlg, 1) && option(dlg, 3));
        EXPECT_TRUE(option(dlg, 1)->isChecked());
        option(dlg, 3)->click();
        dlg.findChild<QPushButton*>("OKButton")->click();
    });
    menu("mnuToolsOptions");
    EXPECT_EQ(settings.values["FrameTime"], "3");
    EXPECT_EQ(frm->PlayTimer.interval(), 500);
    EXPECT_EQ(frm->ReviewTimer.interval(), 500);
    EXPECT_EQ(frm->cmdPlay.value(), 0);

    settings.writes.clear();
    onDialog([&](QDialog& dlg) {
        EXPECT_TRUE(option(dlg, 3)->isChecked());
        option(dlg, 0)->click();
        dlg.close();  // the window's close box
    });
    menu("mnuToolsOptions");
    EXPECT_TRUE(settings.writes.empty());
    EXPECT_EQ(frm->PlayTimer.interval(), 500);
    clock.advance(2000);  // the video the dialog paused stays paused
    EXPECT_EQ(player.playState(), play_state::kPaused);

    // Esc is the Close button: it stores.
    onDialog([&](QDialog& dlg) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &esc);
    });
    menu("mnuToolsOptions");
    EXPECT_EQ(settings.writes, (std::vector<std::pair<std::string, std::string>>{{"FrameTime", "3"}}));
}

// Esc closes the error dialog, each error gets a fresh one, and the bug
// report goes to xdg-open as one argument.
TEST_F(DialogTest, ErrorDialogClosesOnEscAndMailsTheEncodedReport) {
    QPointer<QDialog> first;
    onDialog([&](QDialog& dlg) {
        first = &dlg;
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &esc);
    });
    std::string one = "ShowImage: one";
    frm->ShowError(one, 1);
    EXPECT_FALSE(frm->frmError.loaded());
    EXPECT_TRUE(first.isNull());  // destroyed, not hidden
    onDialog([&](QDialog& dlg) { dlg.findChild<QPushButton*>("OKButton")->click(); });
    std::string two = "ShowImage: two";
    frm->ShowError(two, 2);

    FakeXdgOpen xdgOpen;
    onDialog([&](QDialog& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Velmora error description");
        EXPECT_EQ(dlg.findChild<QPlainTextEdit*>("txtError")->toPlainText(),
                  QString::fromUtf8("OpenMedia: Caf\u00e9 #1 & 50%, line 0"));
        dlg.findChild<QPushButton*>("cmdEmail")->click();
    });
    std::string message = "OpenMedia: Caf\u00e9 #1 & 50%";
    frm->ShowError(message, 0);
    EXPECT_FALSE(frm->frmError.loaded());
    EXPECT_EQ(xdgOpen.arguments(),
              QStringList{"mailto:velmora-bugs@velmora.org?&Subject=Velmora v1.0.0"
                          "&Body=Please write your message above this line.%0D%0A%0D%0A"
                          "Velmora v1.0.0 error descriptions:%0D%0A"
                          "ShowImage: one, line 1%0D%0AShowImage: two, line 2%0D%0A"
                          "OpenMedia: Caf%E9 %231 %26 50%, line 0%0D%0A%0D%0A"});
}

// The window closed before the export's progress shows (half a second):
// the export is cancelled as by its Cancel button, so the program can end.
TEST_F(DialogTest, ClosingTheWindowCancelsAnExport) {
    TempDir folder("close");
    ClipJob job{(folder.path / "clip.mp4").string(), ClipFormat::Mp4, 1280, 720, 100, {}};
    for (Pixel i = 0; i < 20; ++i) job.frames.emplace_back(std::size_t{1280} * 720, 0x0a1428u * i);
    QtFrameFiles files(window.get());
    QTimer::singleShot(0, window.get(), &QWidget::close);
    EXPECT_EQ(files.exportClip(std::move(job)).status, ClipResult::Cancelled);
    EXPECT_TRUE(folder.names().empty());
}

TEST_F(DialogTest, StreamAndCameraDialogsOpenWhatIsChosenAndF8GoesLive) {
    FakeVideoDevices devices;
    devices.devices["/dev/video0"] = {"HD Webcam", {{V4L2_PIX_FMT_MJPEG, {{1920, 1080, {30}}, {1280, 720, {60}}}}}};
    devices.devices["/dev/video1"] = {"USB Cam", {{V4L2_PIX_FMT_YUYV, {{640, 480, {30}}, {1280, 720, {10}}}}}};
    devices.devices["/dev/video1"].busy = true;
    frm->videoDevices = &devices;
    const auto ok = [](QDialog& dlg) { return dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok); };

    settings.values["LastStreamUrl"] = "http://127.0.0.1:8080/old.ts";
    player.openable["udp://@:5000"] = {};
    onDialog([&](QDialog& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Open Stream");
        auto* address = dlg.findChild<QLineEdit*>("txtStreamAddress");
        EXPECT_EQ(address->text(), "http://127.0.0.1:8080/old.ts");
        address->clear();
        EXPECT_FALSE(ok(dlg)->isEnabled());
        address->setText("udp://@:5000");
        ok(dlg)->click();
    });
    EXPECT_EQ(window->findChild<QAction*>("mnuFileOpenStream")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    menu("mnuFileOpenStream");
    EXPECT_EQ(player.calls.back(), "live:udp://@:5000");
    EXPECT_EQ(settings.values["LastStreamUrl"], "udp://@:5000");

    player.openable["av://v4l2:/dev/video1"] = {};
    onDialog([&](QDialog& dlg) {
        auto* list = dlg.findChild<QListWidget*>("lstCameras");
        auto* modes = dlg.findChild<QComboBox*>("cboCameraMode");
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(list->item(0)->text(),
                  QString::fromUtf8("HD Webcam  (/dev/video0)\n    1920 \u00d7 1080, 1280 \u00d7 720 at 30 to 60 fps"));
        EXPECT_TRUE(list->item(1)->text().contains("in use by another program"));
        EXPECT_EQ(modes->currentText(), QString::fromUtf8("1920 \u00d7 1080, 30 fps, MJPEG"));
        list->setCurrentRow(1);
        EXPECT_EQ(modes->count(), 2);
        EXPECT_EQ(modes->currentText(), QString::fromUtf8("640 \u00d7 480, 30 fps, YUYV"));
        ok(dlg)->click();
        // In use: said so, and nothing opened.
        onDialog([](QDialog& box) {
            ASSERT_TRUE(qobject_cast<QMessageBox*>(&box));
            EXPECT_TRUE(qobject_cast<QMessageBox*>(&box)->text().contains("\"USB Cam\" is in use by another program"));
            box.accept();
        });
    });
    menu("mnuFileOpenCamera");
    EXPECT_EQ(settings.values["LastCameraMode"], "YUYV 640x480 1/30");
    EXPECT_EQ(player.count("live:av://v4l2:/dev/video1"), 0);

    EXPECT_EQ(window->findChild<QAction*>("mnuViewGoLive")->shortcut(), QKeySequence(Qt::Key_F8));
    menu("mnuViewGoLive");
    EXPECT_EQ(player.count("golive"), 1);
}

TEST_F(DialogTest, DelayDialogKeepsItsChoiceOnCloseOnlyAndSaysWhatItAppliesTo) {
    EXPECT_EQ(window->findChild<QAction*>("mnuViewDelay")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
    for (const bool close : {false, true}) {
        onDialog([&](QDialog& dlg) {
            auto* spin = dlg.findChild<QSpinBox*>("spnDelay");
            EXPECT_EQ(spin->maximum(), 60);
            EXPECT_EQ(spin->value(), close ? 0 : 10);  // the change Esc dropped is gone
            // Nothing live is open: the dialog says what the delay is for.
            EXPECT_TRUE(dlg.findChild<QLabel*>("lblDelayNote")->text().contains("only to live sources"));
            spin->setValue(45);
            if (close) return dlg.findChild<QPushButton*>("cmdClose")->click();
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&dlg, &esc);
        });
        settings.values["LiveDelay"] = close ? "0" : "10";
        menu("mnuViewDelay");
        EXPECT_EQ(settings.values["LiveDelay"], close ? "45" : "10");
        EXPECT_EQ(player.liveDelay, close ? 45 : 0);
    }
}

}  // namespace
}  // namespace velmora::testing

// The Qt layer: the main window as built, its events, and the Qt ports.
#include <gtest/gtest.h>

#include "support/event_loop.h"
#include "support/qt_app.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <algorithm>
#include <csignal>
#include <memory>

#include "app/images.h"
#include "app/main_window.h"
#include "capture/qt_client_area.h"
#include "support/fakes.h"
#include "support/qt_desktop.h"
#include "base/shutdown_signals.h"
#include "support/window_on_fakes.h"

namespace velmora {
namespace {

using testing::spin;

using testing::FakeDesktop;

class MainWindowTest : public ::testing::Test, protected testing::WindowOnFakes<FakeDesktop> {
protected:
    void SetUp() override {
        desktop.errorForm = &frm->frmError;
        frm->Form_Load("");
    }

    template <typename T = QWidget>
    T* child(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QAction* action(const char* name) const { return child<QAction>(name); }

    void key(QWidget* to, QEvent::Type type, int k, bool autoRepeat = false) {
        QKeyEvent e(type, k, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(to, &e);
    }

    void mouse(QWidget* to, QEvent::Type type, Qt::MouseButton b, QPoint at) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b);
        QMouseEvent e(type, QPointF(at), to->mapToGlobal(QPointF(at)), b, held, Qt::NoModifier);
        QApplication::sendEvent(to, &e);
    }

    // Qt delivers a drop only to the widget that took the drag's entry.
    void dropOn(const QMimeData& data) {
        const QPointF at(300, 300);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->centralWidget(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->centralWidget(), &drop);
    }

};

// ---- The menu bar ----

TEST_F(MainWindowTest, FileExitOrATerminationSignalUnloadsOnce) {
    // A 4K video at 200 %: the window is held to the screen, the zoom stays.
    player.openable["/v/4k.mp4"] = {3840, 2200};
    frm->OpenMedia("/v/4k.mp4");
    window->show();
    action("mnuZoom200")->trigger();
    const ClientSize most = window->largestClientSize();
    EXPECT_LE(frm->scaleWidth(), most.width);
    EXPECT_LE(frm->scaleHeight(), most.height);
    struct sigaction before {};
    ::sigaction(SIGTERM, nullptr, &before);
    {
        ShutdownSignals caught([this] { frm->mnuFileExit_Click(); });
        ::raise(SIGTERM);
        EXPECT_FALSE(frm->unloaded());  // not in the signal handler: on the event loop
        ASSERT_TRUE(testing::waitUntil([this] { return frm->unloaded(); }, 5000));
        // A second signal is no longer caught: it ends the program at once.
        struct sigaction now {};
        ::sigaction(SIGTERM, nullptr, &now);
        EXPECT_EQ(now.sa_handler, before.sa_handler);
    }
    action("mnuFileExit")->trigger();
    window->close();
    int widthWrites = 0;
    std::string zoom;
    for (const auto& [k, v] : settings.writes) {
        widthWrites += k == "width";
        if (k == "zoom") zoom = v;
    }
    EXPECT_EQ(widthWrites, 1);
    EXPECT_EQ(zoom, "2");
}

// ---- Events to procedures ----

// The window's side of the key filter (whose sequences unit_key_filter
// covers): a held key's releases wait on a timer, and the procedures see one
// press and one release.
TEST_F(MainWindowTest, HeldKeysActOnce) {
    player.openable["/v/a.mp4"] = {};
    frm->OpenMedia("/v/a.mp4");
    clock.advance(1000);  // frames to step through
    QWidget* review = child("cmdReview");
    const auto keyAt = [&](QEvent::Type type, int k, quint64 time) {
        QKeyEvent e(type, k, Qt::NoModifier);
        e.setTimestamp(time);
        QApplication::sendEvent(review, &e);
    };

    // F5 held 0.5 s as X11 repeats it steps at the review timer's rate only.
    keyAt(QEvent::KeyPress, Qt::Key_F5, 1000);
    ASSERT_EQ(frm->mlFrameAge, 1);
    for (quint64 t = 1500; t < 2000; t += 100) {
        keyAt(QEvent::KeyRelease, Qt::Key_F5, t);
        keyAt(QEvent::KeyPress, Qt::Key_F5, t);
        clock.advance(100);
    }
    EXPECT_EQ(frm->mlReviewDirection, 1);
    EXPECT_EQ(frm->mlFrameAge, 5);  // steps at +200, +300, +400, +500 ms
    keyAt(QEvent::KeyRelease, Qt::Key_F5, 2100);
    EXPECT_EQ(frm->mlReviewDirection, 1);  // the release waits for a repeat's press
    spin(150);
    EXPECT_EQ(frm->mlReviewDirection, 0);
    EXPECT_EQ(static_cast<ReviewButton*>(review)->picture(), kReviewIdle);
    clock.advance(500);
    EXPECT_EQ(frm->mlFrameAge, 5);

    // A release whose procedure opens a dialog: the dialog takes the
    // window's activation while the release is delivered, and the press
    // after it ends there. F4 held jumps once, each press once.
    player.position = 30;
    player.failing.insert("seek");  // every F4 jump shows the error dialog
    desktop.whileModal = [this](ModalWindow) {
        QEvent away(QEvent::WindowDeactivate);
        QApplication::sendEvent(window.get(), &away);
    };
    const auto jumps = [&] {
        return std::count(desktop.modals.begin(), desktop.modals.end(), ModalWindow::Error);
    };
    keyAt(QEvent::KeyPress, Qt::Key_F4, 5000);
    keyAt(QEvent::KeyRelease, Qt::Key_F4, 5500);
    keyAt(QEvent::KeyPress, Qt::Key_F4, 5500);
    keyAt(QEvent::KeyRelease, Qt::Key_F4, 5600);
    keyAt(QEvent::KeyPress, Qt::Key_F4, 5700);
    keyAt(QEvent::KeyRelease, Qt::Key_F4, 5800);
    spin(150);
    EXPECT_EQ(jumps(), 2);
    keyAt(QEvent::KeyPress, Qt::Key_F4, 6000);
    keyAt(QEvent::KeyRelease, Qt::Key_F4, 6100);
    spin(150);
    EXPECT_EQ(jumps(), 3);
}

TEST_F(MainWindowTest, KeysReachTheWindowWhateverHasFocus) {
    // A key on the scroll bar: the window sees it first, F6 goes no further.
    auto* speed = child<QScrollBar>("SpeedScrollBar");
    const int before = speed->value();
    key(speed, QEvent::KeyPress, Qt::Key_F6);
    EXPECT_EQ(static_cast<ReviewButton*>(child("cmdReview"))->picture(), kReviewForward);
    // Any other key's release ends the press, and the control still gets it.
    key(speed, QEvent::KeyPress, Qt::Key_Left);
    key(speed, QEvent::KeyRelease, Qt::Key_Left);
    EXPECT_EQ(static_cast<ReviewButton*>(child("cmdReview"))->picture(), kReviewIdle);
    EXPECT_EQ(speed->value(), before - 1);
    EXPECT_EQ(frm->SpeedScrollBar.value(), 1);  // the Left key moves towards very slow
}

TEST_F(MainWindowTest, AReviewStepIsInTheWindowWhenItsKeyReturns) {
    // Captures whose pixels tell the capture and the place apart.
    Pixel capture = 0;
    frm->PlayTimer.setHandler([&] {
        ++capture;
        area.fill([&](int x, int y) { return 0xff000000u | capture << 16 | (x & 0xff) << 8 | (y & 0xff); });
        frm->PlayTimer_Timer();
    });
    player.openable["/v/a.mp4"] = {};
    frm->OpenMedia("/v/a.mp4");
    clock.advance(1000);
    window->show();
    spin(100);
    auto* store = static_cast<const QImage*>(window->backingStore()->paintDevice());
    for (long age = 1; age <= 2; ++age) {
        // No event loop between the key and the look at what the window shows.
        key(child("cmdReview"), QEvent::KeyPress, Qt::Key_F5);
        key(child("cmdReview"), QEvent::KeyRelease, Qt::Key_F5);
        ASSERT_EQ(frm->mlFrameAge, age);
        long k = 1;
        while (k < kRingSize && !frm->oCaptured[static_cast<std::size_t>(k)].visible()) ++k;
        const FrameSlot& slot = frm->capturedImage[static_cast<std::size_t>(k)];
        ASSERT_EQ(slot.row(0)[0] >> 16 & 0xff, capture + 1 - age);
        const QPoint at = window->widgetOf(Ctl::oCaptured, static_cast<int>(k))->mapTo(window.get(), QPoint(0, 0));
        ASSERT_TRUE(store->rect().contains(QRect(at, QSize(slot.width, slot.height))));
        for (int y = 0; y < slot.height; ++y)
            for (int x = 0; x < slot.width; ++x)
                ASSERT_EQ(store->pixel(at.x() + x, at.y() + y), slot.row(y)[x]) << "age " << age << " at " << x << ","
                                                                                << y;
        clock.advance(300);  // the review timer runs out
    }
}

// The controls show the model, not the toggles Qt makes of clicks; what the
// procedures set changes the picture and nothing else.  Their labels hold
// their longest texts.
TEST_F(MainWindowTest, ControlsShowTheModel) {
    auto fits = [](QLabel* label, const char* text) {
        return QFontMetrics(label->font()).horizontalAdvance(QString::fromLatin1(text)) <= label->width();
    };
    EXPECT_TRUE(fits(child<QLabel>("lblSpeed"), "Speed: very slow"));
    EXPECT_TRUE(fits(child<QLabel>("lblReviewTime"), "-2.5 sec"));

    // The review button: the left button near the left edge steps back;
    // beyond 800 twips (53 pixels at 96 dpi) any button steps forward.
    auto* review = static_cast<ReviewButton*>(child("cmdReview"));
    const QPoint border = review->contentsRect().topLeft();
    mouse(review, QEvent::MouseButtonPress, Qt::LeftButton, border + QPoint(10, 5));
    EXPECT_EQ(frm->mlReviewDirection, 1);
    EXPECT_EQ(review->picture(), kReviewBack);
    mouse(review, QEvent::MouseButtonRelease, Qt::LeftButton, border + QPoint(10, 5));
    EXPECT_EQ(frm->mlReviewDirection, 0);
    EXPECT_EQ(review->picture(), kReviewIdle);
    ASSERT_EQ(window->dotsPerInch(), 96);
    mouse(review, QEvent::MouseButtonPress, Qt::LeftButton, border + QPoint(60, 5));
    EXPECT_EQ(review->picture(), kReviewForward);
    mouse(review, QEvent::MouseButtonRelease, Qt::LeftButton, border + QPoint(60, 5));
    EXPECT_EQ(review->picture(), kReviewIdle);

    QAction* z100 = action("mnuZoom100");
    QAction* fit = action("mnuZoomFit");
    ASSERT_TRUE(z100->isChecked());
    z100->trigger();  // Qt would uncheck it; the procedure keeps it checked
    EXPECT_TRUE(z100->isChecked());
    fit->trigger();
    fit->trigger();
    EXPECT_TRUE(frm->mnuZoomFit.checked());
    EXPECT_TRUE(fit->isChecked());
    EXPECT_FALSE(z100->isChecked() || action("mnuZoom200")->isChecked());

    player.openable["/v/a.mp4"] = {};
    frm->OpenMedia("/v/a.mp4");
    auto* play = child<QPushButton>("cmdPlay");
    ASSERT_TRUE(play->isChecked());
    play->click();
    EXPECT_EQ(frm->cmdPlay.value(), 0);
    EXPECT_FALSE(play->isChecked());
    EXPECT_EQ(player.count("pause"), 1);
    const auto calls = player.calls.size();
    frm->cmdPlay.setValue(1);  // the button goes down without a click event
    EXPECT_TRUE(play->isChecked());
    EXPECT_EQ(player.calls.size(), calls);

    auto* speed = child<QScrollBar>("SpeedScrollBar");
    ASSERT_EQ(frm->SpeedScrollBar.value(), 0);
    // The left arrow moves towards very slow.
    const QPoint leftArrow(3, speed->height() / 2);
    mouse(speed, QEvent::MouseButtonPress, Qt::LeftButton, leftArrow);
    mouse(speed, QEvent::MouseButtonRelease, Qt::LeftButton, leftArrow);
    EXPECT_EQ(frm->SpeedScrollBar.value(), 1);
    EXPECT_EQ(child<QLabel>("lblSpeed")->text(), QStringLiteral("Speed: slow"));
    mouse(speed, QEvent::MouseButtonPress, Qt::LeftButton, leftArrow);
    mouse(speed, QEvent::MouseButtonRelease, Qt::LeftButton, leftArrow);
    EXPECT_EQ(frm->SpeedScrollBar.value(), 2);
    EXPECT_EQ(child<QLabel>("lblSpeed")->text(), QStringLiteral("Speed: very slow"));
    // The thumb is then drawn at the left end.
    const QImage shot = speed->grab().toImage();
    const QColor atLeft = shot.pixelColor(speed->width() / 2 - 14, speed->height() / 2);
    const QColor atRight = shot.pixelColor(speed->width() / 2 + 14, speed->height() / 2);
    EXPECT_NE(atLeft, atRight);
    // A value set by the procedures moves the thumb without a Change event.
    frm->SpeedScrollBar.setValue(0);
    EXPECT_EQ(child<QLabel>("lblSpeed")->text(), QStringLiteral("Speed: very slow"));
    const QImage back = speed->grab().toImage();
    EXPECT_EQ(back.pixelColor(speed->width() / 2 + 14, speed->height() / 2), atLeft);
}

TEST_F(MainWindowTest, DropsOpenTheFirstFileOrStreamOrComplain) {
    player.openable["/v/b c.mkv"] = {};
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/v/b c.mkv"), QUrl::fromLocalFile("/v/other.mp4")});
    dropOn(files);
    EXPECT_EQ(player.open, "");  // opened after the drop has been answered
    QApplication::processEvents();
    EXPECT_EQ(player.open, "/v/b c.mkv");

    // A stream's address opens as the stream.
    player.openable["http://127.0.0.1:8080/live.ts"] = {};
    QMimeData link;
    link.setUrls({QUrl("http://127.0.0.1:8080/live.ts")});
    dropOn(link);
    QApplication::processEvents();
    EXPECT_EQ(player.calls.back(), "live:http://127.0.0.1:8080/live.ts");

    QMimeData text;
    text.setText("not a file");
    const auto boxes = desktop.boxes.size();
    dropOn(text);
    QApplication::processEvents();
    ASSERT_EQ(desktop.boxes.size(), boxes + 1);
    EXPECT_NE(desktop.boxes.back().text.find("not a file"), std::string::npos);
}

TEST_F(MainWindowTest, ClientSizeAndResizeReports) {
    window->setClientSize(700, 500);
    window->show();
    QApplication::processEvents();
    EXPECT_EQ(window->centralWidget()->size(), QSize(700, 500));
    EXPECT_EQ(frm->scaleWidth(), 700);
    EXPECT_EQ(frm->scaleHeight(), 500);
    EXPECT_EQ(window->nonClientSize().height, window->height() - 500);
    // A size set by the user reaches the procedures.
    window->resize(650, window->height() + 20);
    QApplication::processEvents();
    EXPECT_EQ(frm->scaleWidth(), 650);
    EXPECT_EQ(frm->scaleHeight(), 520);
    EXPECT_EQ(frm->oMediaPlayer.height(), playerWidget->height());
}

// The stored outer size comes back as the same size at the next start.
TEST(MainWindowSize, StoredSizeRoundTrips) {
    testing::WindowOnFakes<FakeDesktop> w;
    w.settings.values = {{"width", "9660"}, {"height", "7275"}, {"zoom", "3"}};
    w.frm->Form_Load("");
    w.window->show();
    QApplication::processEvents();
    EXPECT_EQ(w.window->centralWidget()->size(), QSize(w.frm->scaleWidth(), w.frm->scaleHeight()));
    w.window->close();
    EXPECT_EQ(w.settings.values["width"], "9660");
    EXPECT_EQ(w.settings.values["height"], "7275");
}

// ---- The Qt ports ----

TEST(QtDesktopFilter, ConvertsTheStoredFilter) {
    EXPECT_EQ(qtFileFilter("A|*.a;;*.b|Empty|;\"|B|*.c").toStdString(), "A (*.a *.b);;B (*.c)");
}

// The client area: a player with a 100 x 50 video rectangle at (10, 5) in it.
class ClientAreaTest : public ::testing::Test {
protected:
    static void paintAs(QWidget* w, QColor color) {
        QPalette pal;
        pal.setColor(QPalette::Window, color);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    }
    void SetUp() override {
            client.resize(300, 200);
        paintAs(&client, QColor(0, 255, 0));
        player = new QWidget(&client);
        player->setGeometry(4, 36, 150, 100);
        paintAs(player, QColor(255, 0, 0));
        // With the fourth byte 0, as mpv leaves it: the copies must make it 0xff.
        video = QImage(100, 50, QImage::Format_RGB32);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 100; ++x) reinterpret_cast<QRgb*>(video.scanLine(y))[x] = qRgb(x, y, 200) & 0xffffffu;
        slot.resize(60, 40);
        slot.settle();
    }
    std::unique_ptr<QtClientArea> make() {
        return std::make_unique<QtClientArea>(
            &client, player, [this]() -> const QImage* { return haveVideo ? &video : nullptr; },
            [] { return QRect(10, 5, 100, 50); });
    }

    QWidget client;
    QWidget* player = nullptr;
    QImage video;
    bool haveVideo = true;
    FrameSlot slot;
};

TEST_F(ClientAreaTest, VideoPixelsComeFromThePictureAndTheRestIsRendered) {
    auto a = make();
    // Client (20, 45) is video pixel (20 - 14, 45 - 41) = (6, 4).
    // Rows of 25 pixels: the row copy's 64-byte blocks and what is left.
    a->copyTile(slot, 35, 20, 25, 20, 20, 45);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 25; ++x)
            ASSERT_EQ(slot.row(20 + y)[35 + x], qRgb(x + 6, y + 4, 200)) << x << "," << y;
    EXPECT_EQ(slot.row(20)[34], kSlotBackground);  // not one pixel before the tile
    EXPECT_EQ(a->renderedTiles(), 0);
    // A tile across the video's top-left corner: client (4..33, 30..49).
    a->copyTile(slot, 5, 5, 30, 20, 4, 30);
    const Pixel green = qRgb(0, 255, 0), red = qRgb(255, 0, 0);
    EXPECT_EQ(slot.row(5)[5], green);                       // client (4, 30): above the player
    EXPECT_EQ(slot.row(5 + 6)[5], red);                     // client (4, 36): player, outside the video
    EXPECT_EQ(slot.row(5 + 11)[5 + 10], qRgb(0, 0, 200));   // client (14, 41): video (0, 0)
    EXPECT_EQ(slot.row(24)[34], qRgb(19, 8, 200));          // client (33, 49)
    EXPECT_EQ(slot.row(4)[5], kSlotBackground);             // outside the tile: untouched
    EXPECT_EQ(slot.row(25)[34], kSlotBackground);
    EXPECT_EQ(a->copiedTiles(), 2);
    EXPECT_EQ(a->renderedTiles(), 1);

    // Without a picture everything is rendered, clipped to the slot: only 10 x 10 of the tile fit.
    haveVideo = false;
    a->copyTile(slot, 50, 30, 30, 30, 20, 45);
    EXPECT_EQ(slot.row(30)[50], qRgb(255, 0, 0));
    EXPECT_EQ(slot.row(39)[59], qRgb(255, 0, 0));
    EXPECT_EQ(slot.row(29)[50], qRgb(21, 13, 200));  // the first tile's, untouched
    EXPECT_EQ(a->copiedTiles(), 2);
}

TEST_F(ClientAreaTest, TilesOfOneLockLandWhereSingleCopiesWould) {
    // The 5 x 5 tiles of a 56 x 40 area from client (0, 30), across the
    // video's edges: collected under the lock and copied in runs at the end,
    // they must give exactly what 25 single copies give.
    FrameSlot single;
    single.resize(60, 40);
    single.settle();
    auto a = make();
    const auto tiles = [](QtClientArea& area, FrameSlot& s) {
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c) area.copyTile(s, c * 12, r * 8, 12, 8, c * 12, 30 + r * 8);
    };
    tiles(*a, single);
    auto b = make();
    b->lockWindowUpdate(true);
    tiles(*b, slot);
    EXPECT_EQ(slot.row(0)[0], kSlotBackground);  // nothing lands before the lock is released
    b->lockWindowUpdate(false);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) ASSERT_EQ(slot.row(y)[x], single.row(y)[x]) << x << "," << y;
    EXPECT_EQ(slot.row(11)[14], qRgb(0, 0, 200));  // client (14, 41): video (0, 0)
    EXPECT_EQ(slot.row(0)[0], qRgb(0, 255, 0));
    EXPECT_LT(b->copiedTiles(), a->copiedTiles());  // rows of tiles went as runs
}

}  // namespace
}  // namespace velmora

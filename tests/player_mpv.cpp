// The libmpv player against generated videos: opening, the events the main
// window relies on, exact seeks checked on the frame numbers the test video
// carries in its top row of blocks, files that must not open, shutdown, the
// picture buffer under pressure, and the control strip's times.
#include <gtest/gtest.h>

#include "support/event_loop.h"
#include "support/qt_app.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QWindow>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "playback/mpv_control_strip.h"
#include "playback/mpv_player.h"
#include "support/files.h"
#include "support/frame_number.h"

#if defined(__SANITIZE_ADDRESS__)
// A video area too large for any memory must come back as a failed
// allocation, as it does without the sanitizer, not end the test program.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

// Real input reaches Qt through its window-system queue, which a wait that
// excludes user input leaves queued.  The header of that queue is not
// installed with Qt, so its one entry used here is declared by hand.
class QWindowSystemInterface {
public:
    struct DefaultDelivery;
    template <typename Delivery = DefaultDelivery>
    static bool handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                 Qt::MouseButtons state, Qt::MouseButton button, QEvent::Type type,
                                 Qt::KeyboardModifiers mods = Qt::NoModifier,
                                 Qt::MouseEventSource source = Qt::MouseEventNotSynthesized);
};

namespace velmora {
namespace {

using testing::frameNumber;
using testing::mediaPath;
using testing::run;
using testing::spin;
using testing::waitUntil;

bool allBlack(const QImage& image) {
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if (qGray(image.pixel(x, y)) > 8) return false;
    return true;
}

QSlider* trackerOf(QWidget* strip) {
    for (QSlider* slider : strip->findChildren<QSlider*>())
        if (slider->width() == strip->width()) return slider;
    return nullptr;
}

class MpvPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { makePlayer(MpvOptions{"null"}); }

    // A new player in place of the fixture's, shown unless asked otherwise.
    void makePlayer(MpvOptions options, bool shown = true) {
        player.reset();
        player = std::make_unique<MpvPlayer>(nullptr, std::move(options));
        player->onPlayStateChange = [this](int from, int to) {
            events.push_back("play " + std::to_string(from) + ">" + std::to_string(to));
        };
        player->onOpenStateChange = [this](int from, int to) {
            events.push_back("open " + std::to_string(from) + ">" + std::to_string(to));
        };
        player->resize(320, 240 + kControlStripHeight);
        if (shown) player->show();
        events.clear();
    }

    // Opens a generated video: "" when it plays, else why it does not.
    std::string opened(const std::string& file) {
        player->setFileName(mediaPath(file));
        return player->playState() == play_state::kPlaying ? "" : "not playing: " + player->errorDescription();
    }

    // Opens the numbered video, pauses, and waits until a frame is shown.
    void openPaused() {
        ASSERT_EQ(opened("numbered.mp4"), "");
        player->pause();
        ASSERT_TRUE(waitUntil([&] { return player->renderedFrames() > 0; }));
        events.clear();
    }

    // Seeks and waits until the picture shows the frame and mpv reported
    // where the seek landed.
    void seekAndExpectFrame(double seconds, int frame) {
        player->setCurrentPosition(seconds);
        EXPECT_DOUBLE_EQ(player->currentPosition(), seconds);  // the asked position until mpv answers
        EXPECT_TRUE(waitUntil([&] { return frameNumber(player->videoImage()) == frame; }))
            << "shows frame " << frameNumber(player->videoImage()) << " instead of " << frame;
        spin(300);
        EXPECT_NEAR(player->currentPosition(), seconds, 0.02);
        EXPECT_EQ(frameNumber(player->videoImage()), frame);
    }

    std::unique_ptr<MpvPlayer> player;
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST_F(MpvPlayerTest, OpensStartsFollowsPlayAndPauseAndOpensTheNextFile) {
    EXPECT_TRUE(allBlack(player->videoImage()));
    const std::string path = mediaPath("numbered.mp4");
    player->setFileName(path);
    EXPECT_EQ(player->fileName(), path);
    EXPECT_EQ(player->errorDescription(), "");
    EXPECT_EQ(player->naturalWidth(), 320);
    EXPECT_EQ(player->naturalHeight(), 310);
    EXPECT_EQ(events, (Events{"open 0>6", "play 6>2"}));
    EXPECT_EQ(player->playState(), play_state::kPlaying);

    // Playing: frames keep coming and the position moves on.
    ASSERT_TRUE(waitUntil([&] { return player->renderedFrames() >= 10 && player->currentPosition() > 0.2; }));
    EXPECT_EQ(player->videoRect(), QRect(0, 0, 320, 240));
    EXPECT_EQ(player->videoImage().size(), QSize(320, 240));
    EXPECT_GT(frameNumber(player->videoImage()), 0);

    player->pause();
    EXPECT_EQ(player->playState(), play_state::kPaused);
    spin(300);
    const int still = frameNumber(player->videoImage());
    const double stillAt = player->currentPosition();
    spin(400);
    EXPECT_EQ(frameNumber(player->videoImage()), still);
    EXPECT_DOUBLE_EQ(player->currentPosition(), stillAt);

    player->play();
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_TRUE(waitUntil([&] { return frameNumber(player->videoImage()) > still + 3; }));
    EXPECT_EQ(events, (Events{"open 0>6", "play 6>2", "play 2>1", "play 1>2"}));

    // Opening another file closes the first.
    events.clear();
    player->setFileName(mediaPath("with-audio.mp4"));
    EXPECT_EQ(events, (Events{"open 6>0", "play 2>6", "open 0>6", "play 6>2"}));
    EXPECT_EQ(player->fileName(), mediaPath("with-audio.mp4"));
    EXPECT_LT(player->currentPosition(), 0.3);
    // The new file's picture: testsrc2 without number blocks.
    EXPECT_TRUE(
        waitUntil([&] { return player->renderedFrames() > 0 && frameNumber(player->videoImage()) < 0; }));
}

TEST_F(MpvPlayerTest, SeeksExactlyToTheFrameAskedFor) {
    openPaused();
    seekAndExpectFrame(17.52, 438);
    seekAndExpectFrame(0.04, 1);
    EXPECT_EQ(player->playState(), play_state::kPaused);
    EXPECT_TRUE(events.empty());

    // The status line follows within its refresh interval.
    const auto labels = player->findChildren<QLabel*>();
    ASSERT_FALSE(labels.empty());
    EXPECT_TRUE(waitUntil([&] { return labels.front()->text().contains("0:00 / 0:20"); }, 2000))
        << labels.front()->text().toStdString();
    EXPECT_TRUE(labels.front()->text().contains("Paused"));

    // A click on the middle of the tracker seeks to the middle of the video.
    QSlider* tracker = trackerOf(player.get());
    ASSERT_NE(tracker, nullptr);
    ASSERT_TRUE(waitUntil([&] { return tracker->maximum() > 0; }, 2000));
    const QPoint middle = tracker->rect().center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, middle, tracker->mapToGlobal(middle), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tracker, &event);
    }
    EXPECT_NEAR(player->currentPosition(), 10.0, 0.5);
    EXPECT_TRUE(waitUntil([&] { return std::abs(frameNumber(player->videoImage()) - 250) <= 12; }))
        << frameNumber(player->videoImage());
}

TEST_F(MpvPlayerTest, StopsAtTheEndAndPlayStartsAgain) {
    openPaused();
    player->setCurrentPosition(19.5);
    player->play();
    ASSERT_TRUE(waitUntil([&] { return player->playState() == play_state::kStopped; }));
    EXPECT_EQ(events, (Events{"play 1>2", "play 2>0"}));
    EXPECT_EQ(frameNumber(player->videoImage()), 499);  // the last frame stays

    player->play();
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_TRUE(waitUntil([&] {
        const int n = frameNumber(player->videoImage());
        return n >= 0 && n < 100;
    }));
    EXPECT_LT(player->currentPosition(), 5.0);

    // Reports of an end that mpv made before it was asked to go back to the
    // start, read only after that (the program was busy meanwhile), say
    // nothing about the new run: it plays, and says so.
    player->setCurrentPosition(19.9);
    player->play();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // mpv reaches the end unheard
    player->setCurrentPosition(0);
    player->play();
    spin(600);
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_LT(player->currentPosition(), 5.0);
    const int now = frameNumber(player->videoImage());
    spin(300);
    EXPECT_GT(frameNumber(player->videoImage()), now);  // and it does play
}

TEST_F(MpvPlayerTest, FilesThatCannotBeOpenedSayWhy) {
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"missing.mp4", "No such file or directory"},
        {"text.avi", "unrecognized file format"},
        {"empty.mp4", "empty"},
        {"truncated.mp4", "moov atom not found"},
        {"folder.mp4", "folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(opened("numbered.mp4"), "");
        ASSERT_TRUE(waitUntil([&] { return !allBlack(player->videoImage()); }));
        events.clear();

        player->setFileName(mediaPath(c.file));
        EXPECT_EQ(player->playState(), play_state::kNoMedia);
        EXPECT_EQ(player->fileName(), "");
        const std::string why = player->errorDescription();
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_TRUE(why.ends_with(".")) << why;
        EXPECT_EQ(events, (Events{"open 6>0", "play 2>6"}));
        spin(200);
        EXPECT_TRUE(allBlack(player->videoImage()));
        EXPECT_EQ(player->playState(), play_state::kNoMedia);
    }
    player->setFileName(mediaPath("with-audio.mp4"));
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_EQ(player->errorDescription(), "");
}

TEST_F(MpvPlayerTest, ClicksOnThePictureToggleAndInputWaitsDuringAnOpen) {
    ASSERT_EQ(opened("numbered.mp4"), "");
    auto click = [&](QPoint at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, player->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(player.get(), &press);
    };
    click({160, 120});
    EXPECT_EQ(player->playState(), play_state::kPaused);
    click({160, 120});
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    click({160, 250});  // on the control strip, not on the picture
    EXPECT_EQ(player->playState(), play_state::kPlaying);

    // Keys are the main window's: the player lets them pass, and nothing in
    // it takes the focus.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(player.get(), &key);
    EXPECT_FALSE(key.isAccepted());
    EXPECT_EQ(player->focusPolicy(), Qt::NoFocus);
    for (QWidget* child : player->findChildren<QWidget*>())
        EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->metaObject()->className();

    // A click queued by the window system before an open stays queued until
    // the open is over.
    int presses = 0;
    struct Counter : QObject {
        int* count;
        explicit Counter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::MouseButtonPress) ++*count;
            return false;
        }
    } counter(&presses);
    player->installEventFilter(&counter);
    ASSERT_NE(player->windowHandle(), nullptr);
    QWindowSystemInterface::handleMouseEvent(player->windowHandle(), QPointF(160, 120), QPointF(160, 120),
                                             Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    player->setFileName(mediaPath("with-audio.mp4"));
    EXPECT_EQ(presses, 0);
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }, 2000));
    EXPECT_EQ(player->playState(), play_state::kPaused);
    player->removeEventFilter(&counter);
}

// A video track without one decodable frame: the open ends as soon as mpv
// starts playing, not at the open's time limit, which is short here so that
// a wait for a picture that never comes fails the open.
TEST_F(MpvPlayerTest, FilesWhosePictureNeverDecodesDoNotWaitForIt) {
    makePlayer(MpvOptions{"null", 3000});

    // Sound beside an empty video track plays as sound alone.
    player->setFileName(mediaPath("no-picture.mkv"));
    EXPECT_EQ(player->errorDescription(), "");
    ASSERT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_EQ(events, (Events{"open 0>6", "play 6>2"}));
    EXPECT_EQ(player->naturalWidth(), 320);
    EXPECT_EQ(player->naturalHeight(), kControlStripHeight);
    EXPECT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }));
    EXPECT_TRUE(allBlack(player->videoImage()));

    // A picture that never decodes and no sound: nothing to play, and the
    // reason says so.
    events.clear();
    player->setFileName(mediaPath("garbled.mp4"));
    EXPECT_EQ(player->playState(), play_state::kNoMedia);
    EXPECT_EQ(player->fileName(), "");
    EXPECT_EQ(player->errorDescription(),
              "The file could not be opened: its picture could not be decoded and it has no sound.");
    EXPECT_EQ(events, (Events{"open 6>0", "play 2>6"}));

    // What the failed file reported while it loaded (its length of 2 s) is
    // gone with it: the tracker has nothing to seek in.
    spin(400);
    EXPECT_EQ(player->currentPosition(), 0);
    QSlider* tracker = trackerOf(player.get());
    ASSERT_NE(tracker, nullptr);
    EXPECT_EQ(tracker->maximum(), 0);
    EXPECT_FALSE(tracker->isEnabled());
}

TEST_F(MpvPlayerTest, AnOpenEndsOnlyByItsOwnOutcomeAndThePlayerMayGoMeanwhile) {
    // The application quitting ends the open's wait from outside: the open
    // failed, and says so.
    {
        // Afterwards every event loop would return at once until the
        // application's own loop has run again.
        struct Restart {
            ~Restart() {
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
                QCoreApplication::exec();
            }
        } restart;
        QTimer::singleShot(0, [] { QCoreApplication::exit(); });
        player->setFileName(mediaPath("numbered.mp4"));
    }
    EXPECT_EQ(player->playState(), play_state::kNoMedia);
    EXPECT_EQ(player->fileName(), "");
    EXPECT_EQ(player->errorDescription(), "The file could not be opened: loading was interrupted.");
    EXPECT_TRUE(events.empty());
    spin(300);
    EXPECT_EQ(player->renderedFrames(), 0);
    EXPECT_EQ(player->currentPosition(), 0);

    // A second open while one is under way is refused; the first still opens,
    // and the refusal does not stay behind as the first open's error.
    std::string refusal;
    int refusedState = -1;
    QTimer::singleShot(0, [&] {
        player->setFileName(mediaPath("with-audio.mp4"));
        refusal = player->errorDescription();
        refusedState = player->playState();
    });
    player->setFileName(mediaPath("numbered.mp4"));
    EXPECT_EQ(refusal, "Another file is still being opened.");
    EXPECT_EQ(refusedState, play_state::kNoMedia);
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_EQ(player->fileName(), mediaPath("numbered.mp4"));
    EXPECT_EQ(player->errorDescription(), "");
    EXPECT_EQ(events, (Events{"open 0>6", "play 6>2"}));

    // Destroyed while playing: frames and events queued for it must not reach the dead player.
    ASSERT_TRUE(waitUntil([&] { return player->renderedFrames() > 3; }));
    player.reset();
    spin(100);
    // Destroyed from a timer inside the open's wait: the open returns quietly.
    makePlayer(MpvOptions{"null"});
    QTimer::singleShot(0, [&] { player.reset(); });
    player->setFileName(mediaPath("numbered.mp4"));
    EXPECT_EQ(player, nullptr);
}

// Anamorphic SD is shown at its displayed size: PAL 16:9 (720 x 576, pixels
// 64:45) at 1024 x 576, NTSC 4:3 (720 x 480, pixels 8:9) at 720 x 540.
// Phone clips: stored turned, tagged with the rotation that shows them
// upright.  The number blocks read right only when the picture is upright and
// not mirrored.  Each open replaces a playing rotated file, and the turned
// picture is drawn into video areas of every shape.
TEST_F(MpvPlayerTest, AnamorphicAndRotatedVideosTakeTheirDisplayedSizeUpright) {
    for (const auto& [file, size] :
         {std::pair{"pal-16x9.mp4", QSize(1024, 576)}, std::pair{"ntsc-4x3.mp4", QSize(720, 540)},
          std::pair{"rot90.mp4", QSize(320, 240)}, std::pair{"rot180.mp4", QSize(320, 240)},
          std::pair{"rot270.mp4", QSize(320, 240)}}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(opened(file), "");
        EXPECT_EQ(QSize(player->naturalWidth(), player->naturalHeight() - kControlStripHeight), size);
        if (std::string(file).starts_with("rot")) player->pause(), seekAndExpectFrame(2.0, 50);
    }
    for (QSize size : {QSize(1, 1 + kControlStripHeight), QSize(3, 900), QSize(1900, 2 + kControlStripHeight),
                       QSize(241, 97)}) {
        player->resize(size);
        player->setCurrentPosition(1.0);
        spin(100);
        EXPECT_EQ(player->videoImage().size(), size - QSize(0, kControlStripHeight));
    }
    player->resize(320, 240 + kControlStripHeight);
    seekAndExpectFrame(3.0, 75);
}

// A shown player has mpv draw into the window's backing store: what the
// window holds, what videoImage() gives (what a capture copies) and the
// frame mpv is at agree, while playing, when paused, after the picture was
// painted somewhere else and after a resize.  An odd position in the window
// gives rows that start off any alignment.  A window being dragged changes
// the video area more often than frames come: the picture ends at the area's
// size without waiting for another frame, which the paused video shows.
// (How often it follows a drag is the resize benchmark's to measure.)
TEST_F(MpvPlayerTest, TheWindowAndThePictureShowTheSameFrame) {
    QWidget window;
    window.resize(420, 340);
    player.reset();
    player = std::make_unique<MpvPlayer>(&window, MpvOptions{"null"});
    player->setGeometry(41, 19, 350, 250 + kControlStripHeight);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    const auto onWindow = [&] {
        const QPoint at = player->mapTo(&window, QPoint(0, 0));
        const QSize size = player->videoRect().size();
        return frameNumber(window.screen()
                               ->grabWindow(window.winId(), at.x(), at.y(), size.width(), size.height())
                               .toImage());
    };
    // Opened in a shown window, whose player takes the video's size right
    // after the first frame (as the window does after an open): the next
    // frame is drawn at that size, not held at the size of the first.
    long long firstFrames = -1;
    const auto fit = QObject::connect(player.get(), &MpvPlayer::frameRendered, player.get(), [&] {
        if (firstFrames >= 0) return;
        firstFrames = player->renderedFrames();
        player->resize(320, 240 + kControlStripHeight);
    });
    ASSERT_EQ(opened("numbered.mp4"), "");
    ASSERT_TRUE(waitUntil([&] { return firstFrames >= 0 && player->renderedFrames() > firstFrames; }));
    QObject::disconnect(fit);
    EXPECT_EQ(player->videoImage().size(), QSize(320, 240));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.5; }));
    int agreed = 0;
    for (int i = 0; i < 20; ++i, spin(20)) {
        const int shown = onWindow();
        if (shown > 0 && shown == frameNumber(player->videoImage())) ++agreed;
    }
    EXPECT_GE(agreed, 15) << "of 20 looks while playing";

    player->pause();
    spin(300);
    const int still = frameNumber(player->videoImage());
    EXPECT_GT(still, 0);
    EXPECT_EQ(onWindow(), still);
    const QImage grabbed = player->grab(player->videoRect()).toImage();
    EXPECT_EQ(frameNumber(grabbed), still);
    player->update();
    spin(50);
    EXPECT_EQ(onWindow(), still);
    EXPECT_EQ(frameNumber(player->videoImage()), still);

    // Resized while playing: until the next frame the picture is the one
    // the window showed, at its old size.
    player->play();
    ASSERT_TRUE(waitUntil([&] { return onWindow() > still + 5; }));
    const int before = onWindow();
    player->resize(320, 260 + kControlStripHeight);
    const int after = frameNumber(player->videoImage());
    EXPECT_TRUE(after >= before && after <= before + 2) << before << " then " << after;
    player->resize(320, 240 + kControlStripHeight);

    // Dragged while paused: no frame comes to bring the last size.
    player->pause();
    spin(300);
    const int frame = frameNumber(player->videoImage());
    std::vector<QSize> drawn;  // the sizes the picture took, in turn
    const auto watch = QObject::connect(player.get(), &MpvPlayer::frameRendered, player.get(), [&] {
        if (drawn.empty() || drawn.back() != player->videoImage().size())
            drawn.push_back(player->videoImage().size());
    });
    for (int step : {0, 1, 2}) {
        player->resize(300 + 10 * step, 240 + 10 * step + kControlStripHeight);
        spin(5);
    }
    EXPECT_TRUE(waitUntil([&] { return player->videoImage().size() == QSize(320, 260); }, 1000));
    EXPECT_EQ(drawn, (std::vector<QSize>{QSize(300, 240), QSize(320, 260)}));
    EXPECT_EQ(frameNumber(player->videoImage(), QPoint(0, 10)), frame);  // between black bars
    QObject::disconnect(watch);
    const QPoint at = player->mapTo(&window, QPoint(0, 10));  // between black bars
    EXPECT_EQ(frameNumber(window.screen()->grabWindow(window.winId(), at.x(), at.y(), 320, 240).toImage()),
              frameNumber(player->videoImage(), QPoint(0, 10)));
    player.reset();  // before the window it lives in
}

// A player that is not shown keeps its picture in memory of its own, which
// mpv draws into and which a copy of videoImage() held elsewhere shares: the
// held copy keeps its pixels (239 pixels make rows whose plain length differs
// from their aligned one).  A video area larger than any memory leaves the
// picture out and plays on; at a sane size the picture comes back.
TEST_F(MpvPlayerTest, AnUnshownPlayersPictureIsKeptApartAndMayBeLeftOut) {
    makePlayer(MpvOptions{"null"}, false);
    player->resize(239, 179 + kControlStripHeight);
    ASSERT_EQ(opened("numbered.mp4"), "");
    ASSERT_TRUE(waitUntil([&] { return player->renderedFrames() >= 3; }));
    const QImage held = player->videoImage();
    const QImage heldPixels = held.copy();
    const long long framesBefore = player->renderedFrames();
    ASSERT_TRUE(waitUntil([&] { return player->renderedFrames() >= framesBefore + 10; }));
    EXPECT_EQ(held, heldPixels);
    EXPECT_EQ(player->videoImage().size(), QSize(239, 179));
    EXPECT_EQ(player->videoImage().format(), QImage::Format_RGB32);
    EXPECT_NE(player->videoImage(), held);  // the picture moved on
    EXPECT_FALSE(allBlack(player->videoImage()));

    makePlayer(MpvOptions{"null"}, false);  // never shown: no window of that size either
    player->resize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    ASSERT_EQ(player->videoRect().size(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX - kControlStripHeight));
    ASSERT_EQ(opened("numbered.mp4"), "");
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.5; }));
    EXPECT_EQ(player->renderedFrames(), 0);
    EXPECT_TRUE(player->videoImage().isNull());
    player->resize(320, 240 + kControlStripHeight);
    EXPECT_TRUE(waitUntil([&] { return player->renderedFrames() > 0; }));
    EXPECT_EQ(player->videoImage().size(), QSize(320, 240));
    EXPECT_GT(frameNumber(player->videoImage()), 0);
}

// The mean colour of the 16 x 16 pixels around (x, y).
QRgb meanAround(const QImage& image, int x, int y) {
    int sum[3] = {};
    for (int v = y - 8; v < y + 8; ++v)
        for (int u = x - 8; u < x + 8; ++u) {
            const QRgb p = image.pixel(u, v);
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
        }
    return qRgb(sum[0] / 256, sum[1] / 256, sum[2] / 256);
}

// Four grey bands (PQ at 10, 100, 203 and 1000 nits; HLG and SDR at signal
// 0.25, 0.5, 0.75 and 1) above BT.709 red, green, blue and yellow at
// reference white.  HDR is tone mapped: the bands distinct and in order,
// reference white well below full white, the colours still colours; 10-bit
// SDR shows its signal as it is.
TEST_F(MpvPlayerTest, HdrVideoIsToneMappedAndSdrVideoIsShownAsCoded) {
    for (const std::string file : {"hdr-pq.mp4", "hdr-hlg.mp4", "sdr-10bit.mp4"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(opened(file), "");
        player->pause();
        ASSERT_TRUE(waitUntil([&] { return player->renderedFrames() > 0; }));
        spin(300);
        const QImage image = player->videoImage();
        int grey[4];
        for (int band = 0; band < 4; ++band) grey[band] = qGray(meanAround(image, 40 + 80 * band, 80));
        if (file == "sdr-10bit.mp4") {
            const int coded[] = {64, 128, 191, 255};
            for (int band = 0; band < 4; ++band) EXPECT_NEAR(grey[band], coded[band], 1) << band;
            continue;
        }
        EXPECT_GT(grey[0], 40);
        for (int band = 1; band < 4; ++band) EXPECT_GT(grey[band], grey[band - 1] + 20) << band;
        EXPECT_LT(grey[1], 190);
        EXPECT_LT(grey[2], 230);
        for (int patch = 0; patch < 4; ++patch) {
            const QRgb colour = meanAround(image, 40 + 80 * patch, 200);
            const int lit[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
            const int channel[3] = {qRed(colour), qGreen(colour), qBlue(colour)};
            for (int c = 0; c < 3; ++c) EXPECT_EQ(channel[c] > 180, lit[patch][c] == 1) << patch << " " << c;
            for (int c = 0; c < 3; ++c) EXPECT_EQ(channel[c] < 40, lit[patch][c] == 0) << patch << " " << c;
        }
    }
}

// Top field first, fields 1/50 s apart: the picture is the frame as FFmpeg's
// bwdif deinterlaces it, not the woven fields.  The clip is grey: the
// picture's RGB is its luma.
TEST_F(MpvPlayerTest, InterlacedVideoIsDeinterlaced) {
    // FFmpeg first: the player's frames would wait for the UI thread meanwhile.
    const auto frame10 = [](const std::string& filters) {
        return run("ffmpeg -v error -i '" + mediaPath("interlaced.mp4") + "' -vf '" + filters +
                   "select=eq(n\\,10)' -frames:v 1 -f rawvideo -pix_fmt gray -");
    };
    const std::string deinterlaced = frame10("bwdif=mode=send_frame:parity=auto:deint=interlaced,");
    const std::string woven = frame10("");
    // The pixels of the picture more than 8 levels off `frame`.
    const auto off = [&](const std::string& frame) {
        const QImage image = player->videoImage();
        if (image.size() != QSize(320, 240) || frame.size() != 320u * 240u) return 320 * 240;
        int count = 0;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                count += std::abs(qGray(image.pixel(x, y)) - static_cast<uchar>(frame[y * 320 + x])) > 8;
        return count;
    };
    ASSERT_EQ(opened("interlaced.mp4"), "");
    player->pause();
    player->setCurrentPosition(0.4);
    // After a seek the deinterlacer may lack the fields before the frame and
    // fill in a few edge pixels otherwise than FFmpeg, which decoded from the
    // start (a few hundred pixels; the woven frame is off in thousands).
    EXPECT_TRUE(waitUntil([&] { return off(deinterlaced) < 320 * 240 / 100; })) << off(deinterlaced);
    EXPECT_GT(off(woven), 320 * 240 / 50);  // combing on every moving edge
    // The next file is progressive: no deinterlacer delays it, seeks land exactly.
    player->setFileName(mediaPath("numbered.mp4"));
    player->pause();
    seekAndExpectFrame(3.0, 75);
}

// The times as the strip shows them, for lengths up to those no file has
// (a broken header can claim centuries) and lengths that are unknown.
TEST(MpvControlStripTest, ShowsEveryLengthItIsGiven) {
    MpvControlStrip strip;
    strip.resize(400, kControlStripHeight);
    strip.show();
    strip.showPlayState(play_state::kPaused);
    QSlider* tracker = trackerOf(&strip);
    ASSERT_NE(tracker, nullptr);
    const auto labels = strip.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    const QLabel* status = labels.front();

    struct Case {
        double position, duration;
        int max, value;
        bool enabled;
        const char* text;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {7.5, 20, 20000, 7500, true, "Paused    0:07 / 0:20"},
        {3723.9, 7200, 7200000, 3723900, true, "Paused    1:02:03 / 2:00:00"},
        {0.64, 1e10, INT_MAX, 640, true, "Paused    0:00 / 2777777:46:40"},
        {3e6, 1e10, INT_MAX, INT_MAX, true, "Paused    833:20:00 / 2777777:46:40"},
        {5, inf, 0, 0, false, "Paused    0:05 / 0:00"},
        {nan, nan, 0, 0, false, "Paused    0:00 / 0:00"},
        {-0.19, 2, 2000, 0, true, "Paused    0:00 / 0:02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        strip.showTimes(c.position, c.duration);
        EXPECT_EQ(tracker->minimum(), 0);
        EXPECT_EQ(tracker->maximum(), c.max);
        EXPECT_EQ(tracker->value(), c.value);
        EXPECT_EQ(tracker->isEnabled(), c.enabled);
        EXPECT_EQ(status->text().toStdString(), c.text);
    }
}

}  // namespace
}  // namespace velmora

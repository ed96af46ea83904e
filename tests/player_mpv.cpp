// The libmpv player against generated videos: opening, the events the main
// window relies on, exact seeks checked on the frame numbers the test video
// carries in its top row of blocks, files that must not open, shutdown.
#include <gtest/gtest.h>

#include "support/qt_app.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "playback/mpv_player.h"
#include "support/frame_number.h"

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


std::string media(const char* name) {
    const char* dir = std::getenv("VELMORA_MEDIA_DIR");
    return std::string(dir ? dir : "media") + "/" + name;
}

// Runs the event loop, sleeping between events, until the condition holds.
template <typename Condition>
bool waitUntil(Condition condition, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    QTimer tick;  // wakes the loop to look at the condition again
    tick.start(5);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

using testing::frameNumber;

bool allBlack(const QImage& image) {
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if (qGray(image.pixel(x, y)) > 8) return false;
    return true;
}

class MpvPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        player = std::make_unique<MpvPlayer>(nullptr, MpvOptions{"null"});
        player->onPlayStateChange = [this](int from, int to) {
            events.push_back("play " + std::to_string(from) + ">" + std::to_string(to));
        };
        player->onOpenStateChange = [this](int from, int to) {
            events.push_back("open " + std::to_string(from) + ">" + std::to_string(to));
        };
        player->resize(320, 240 + kControlStripHeight);
        player->show();
    }

    // Opens the numbered video, pauses, and waits until a frame is shown.
    void openPaused() {
        player->setFileName(media("numbered.mp4"));
        ASSERT_EQ(player->playState(), play_state::kPlaying) << player->errorDescription();
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

TEST_F(MpvPlayerTest, OpensStartsAndFollowsPlayAndPause) {
    EXPECT_TRUE(allBlack(player->videoImage()));
    const std::string path = media("numbered.mp4");
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
}

TEST_F(MpvPlayerTest, SeeksExactlyToTheFrameAskedFor) {
    openPaused();
    seekAndExpectFrame(3.0, 75);
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
    QSlider* tracker = nullptr;
    for (QSlider* slider : player->findChildren<QSlider*>())
        if (slider->width() == player->width()) tracker = slider;
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
        player->setFileName(media("numbered.mp4"));
        ASSERT_EQ(player->playState(), play_state::kPlaying) << player->errorDescription();
        ASSERT_TRUE(waitUntil([&] { return !allBlack(player->videoImage()); }));
        events.clear();

        player->setFileName(media(c.file));
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
    player->setFileName(media("with-audio.mp4"));
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_EQ(player->errorDescription(), "");
}

TEST_F(MpvPlayerTest, OpeningAnotherFileClosesTheFirst) {
    player->setFileName(media("numbered.mp4"));
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() > 0.3; }));
    player->setFileName(media("with-audio.mp4"));
    EXPECT_EQ(events, (Events{"open 0>6", "play 6>2", "open 6>0", "play 2>6", "open 0>6", "play 6>2"}));
    EXPECT_EQ(player->fileName(), media("with-audio.mp4"));
    EXPECT_LT(player->currentPosition(), 0.3);
    // The new file's picture: testsrc2 without number blocks.
    EXPECT_TRUE(
        waitUntil([&] { return player->renderedFrames() > 0 && frameNumber(player->videoImage()) < 0; }));

    player->setFileName(media("tone.m4a"));
    EXPECT_EQ(player->playState(), play_state::kPlaying) << player->errorDescription();
    EXPECT_EQ(player->naturalWidth(), 320);
    EXPECT_EQ(player->naturalHeight(), kControlStripHeight);
    spin(300);
    EXPECT_TRUE(allBlack(player->videoImage()));
}

TEST_F(MpvPlayerTest, ClicksOnThePictureToggleAndInputWaitsDuringAnOpen) {
    player->setFileName(media("numbered.mp4"));
    ASSERT_EQ(player->playState(), play_state::kPlaying);
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
    player->setFileName(media("with-audio.mp4"));
    EXPECT_EQ(presses, 0);
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }, 2000));
    EXPECT_EQ(player->playState(), play_state::kPaused);
    player->removeEventFilter(&counter);
}

TEST_F(MpvPlayerTest, CanBeDestroyedWhileOpeningOrPlaying) {
    // Destroyed from a timer inside the open's wait: the open returns quietly.
    QTimer::singleShot(0, [&] { player.reset(); });
    player->setFileName(media("numbered.mp4"));
    EXPECT_EQ(player, nullptr);

    auto playing = std::make_unique<MpvPlayer>(nullptr, MpvOptions{"null"});
    playing->resize(320, 240 + kControlStripHeight);
    playing->show();
    playing->setFileName(media("with-audio.mp4"));
    ASSERT_EQ(playing->playState(), play_state::kPlaying);
    ASSERT_TRUE(waitUntil([&] { return playing->renderedFrames() > 3; }));
    playing.reset();
    spin(100);  // frames and events queued for it must not reach the dead player
}

}  // namespace
}  // namespace velmora

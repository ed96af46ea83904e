// The whole program on the real player and window, a live stream played a
// steady five seconds behind live: the numbered clip sent over HTTP on
// 127.0.0.1 at its 25 fps, LiveDelay=5 in the settings.  While the delay is
// gathered the picture holds and the strip counts the seconds up; then the
// number on the screen stays five seconds (125 frames), plus the stream's own
// latency, behind the number the sender has sent, and moves on at the full
// frame rate.
#include <gtest/gtest.h>

#include "support/event_loop.h"
#include "support/qt_app.h"

#include <QElapsedTimer>
#include <QLabel>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/frm_main.h"
#include "app/main_window.h"
#include "base/qt_timer_host.h"
#include "capture/qt_client_area.h"
#include "playback/mpv_player.h"
#include "playback/mpv_session.h"
#include "support/fakes.h"
#include "support/frame_number.h"
#include "support/live_sender.h"

namespace velmora {
namespace {

using testing::frameNumber;
using testing::LiveSender;
using testing::waitUntil;

constexpr int kClipFrames = 500;  // the numbered clip's numbers wrap after 20 s
constexpr double kFps = 25;

// Frames from number `older` on to number `newer`.
int framesFrom(int older, int newer) { return ((newer - older) % kClipFrames + kClipFrames) % kClipFrames; }

// The program built as it builds itself, the settings file holding the
// delay, on the numbered clip sent live.
struct DelayedWindow {
    explicit DelayedWindow(const char* delay) {
        settings.values = {{"StartCount", "100"}, {"LiveDelay", delay}};
        window.bind(frm);
    }
    void start() {
        ASSERT_TRUE(sender.start()) << sender.log();
        frm.Form_Load(sender.url());
        window.show();
    }
    // What the strip says beside the play state, and the number on the screen.
    std::string strip() const {
        for (const QLabel* label : player.findChildren<QLabel*>())
            if (label->text().startsWith(QStringLiteral("Playing    "))) return label->text().mid(11).toStdString();
        return {};
    }
    int shown() {
        const QImage& picture = player.videoImage();
        return picture.isNull() ? -1 : frameNumber(picture, player.videoRect().topLeft());
    }

    LiveSender sender{LiveSender::Protocol::Http};
    QtTimerHost timers;
    testing::FakeDesktop desktop;
    MpvPlayer player{nullptr, MpvOptions{"null"}};
    testing::FakeSettings settings;
    MainWindow window{&player};
    QtClientArea clientArea{window.clientArea(), &player, [this]() -> const QImage* { return &player.videoImage(); },
                            [this] { return player.videoRect(); }};
    FrmMain frm{timers, desktop, player, settings, clientArea};
};

TEST(EndToEndDelay, PlaysFiveSecondsBehindAtTheFullFrameRateAfterGathering) {
    DelayedWindow w("5");
    std::vector<std::string> texts;  // the strip's texts in turn (before mpv's first report it shows the clock)
    std::set<int> held;              // the numbers shown while the player says it gathers
    const auto watch = [&] {
        const std::string text = w.strip();
        if (text.starts_with("Delay") && (texts.empty() || texts.back() != text)) texts.push_back(text);
        // The strip is redrawn every 200 ms: here the player's own word counts.
        if (w.player.session().liveText().ends_with("gathered") && w.shown() >= 0) held.insert(w.shown());
        return text == "Delay 5 s";
    };
    ASSERT_NO_FATAL_FAILURE(w.start());
    ASSERT_EQ(w.player.playState(), play_state::kPlaying) << w.player.errorDescription();
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    ASSERT_TRUE(waitUntil(watch, 15000)) << w.strip();
    EXPECT_GE(sinceOpen.elapsed(), 4500);
    // The strip counted up second by second (a busy machine may miss one)
    // while the picture held one frame.
    const std::vector<std::string> counting{"Delay 5 s: 0 s gathered", "Delay 5 s: 1 s gathered",
                                            "Delay 5 s: 2 s gathered", "Delay 5 s: 3 s gathered",
                                            "Delay 5 s: 4 s gathered", "Delay 5 s"};
    auto next = counting.begin();
    for (const std::string& text : texts) ASSERT_NE(next = std::find(next, counting.end(), text), counting.end()) << text;
    EXPECT_GE(texts.size(), 5u);
    EXPECT_EQ(held.size(), 1u);

    // From about 12 s on, pictures 1 s apart against the sender's count
    // (number sent - 1 is its newest frame; the count is up to 0.1 s old).
    testing::spin(std::max<int>(0, 12000 - static_cast<int>(sinceOpen.elapsed())));
    qint64 lastMs = 0;
    int lastNumber = -1;
    for (int i = 0; i < 5; ++i, testing::spin(1000)) {
        const qint64 ms = sinceOpen.elapsed();
        const int number = w.shown(), sent = w.sender.framesSent();
        const double lag = w.player.session().liveBehind(), behind = framesFrom(number, sent - 1) / kFps;
        ASSERT_GE(number, 0);
        EXPECT_EQ(w.strip(), "Delay 5 s");
        EXPECT_NEAR(lag, 5.0, 0.25);
        // Five seconds plus the stream's own latency on loopback (the
        // sender's muxing, the socket, mpv's decoding and display: 0.05 to
        // 0.2 s measured here), less the progress count's age.
        EXPECT_GE(behind, 5.0 - 0.1);
        EXPECT_LE(behind, 5.5);
        // 25 frames a second apart: the full frame rate, not the ring's ten;
        // the correction makes it at most 3 % more or less.
        if (lastNumber >= 0) {
            EXPECT_NEAR(framesFrom(lastNumber, number), (ms - lastMs) / 1000.0 * kFps, 3.0);
        }
        lastMs = ms;
        lastNumber = number;
    }
    EXPECT_TRUE(w.desktop.boxes.empty());
}

// A delay longer than the cache holds ahead: cut to what it holds, instead
// of gathering for ever.  (300 kB hold about 6 s of the clip as sent.)
TEST(EndToEndDelay, ADelayBeyondTheCacheIsCutToWhatItHolds) {
    DelayedWindow w("20");
    w.frm.liveBuffer.aheadBytes = 300 << 10;
    ASSERT_NO_FATAL_FAILURE(w.start());
    ASSERT_TRUE(waitUntil([&] { return w.player.session().liveText().find(':') == std::string::npos; }, 15000));
    const std::string text = w.player.session().liveText();
    ASSERT_TRUE(text.starts_with("Delay ") && text.ends_with(" s")) << text;
    const int cut = std::stoi(text.substr(6));
    EXPECT_GE(cut, 3);
    EXPECT_LE(cut, 7);
    testing::spin(3000);
    EXPECT_EQ(w.player.session().liveText(), text);
    EXPECT_NEAR(w.player.session().liveBehind(), cut, 0.25);
}

}  // namespace
}  // namespace velmora

// The whole program on a live HTTP stream of the numbered clip (25 fps) with a
// delay in the settings: the picture holds while the strip counts the seconds
// gathered, then stays the delay behind the sender at the full frame rate;
// when the sender stops, the delay received plays out before a reconnect.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "playback/mpv_session.h"
#include "support/event_loop.h"
#include "support/qt_app.h"
#include "support/whole_program.h"
// Last: it brings the X11 headers' macros.
#include "support/live_sender.h"

namespace velmora::testing {
namespace {

constexpr double kFps = 25;

class EndToEndDelay : public WholeProgram {
protected:
    LiveSender sender{LiveSender::Protocol::Http};
    void startWith(const char* delay) {
        settings.values["LiveDelay"] = delay;
        ASSERT_TRUE(sender.start()) << sender.log();
        ASSERT_NO_FATAL_FAILURE(openLive(sender.url()));
    }
    std::string said() const { return player->session().liveText(); }
};

TEST_F(EndToEndDelay, PlaysFiveSecondsBehindAtTheFullFrameRateAfterGathering) {
    std::vector<std::string> texts;  // the strip's delay texts in turn
    std::set<int> held;              // the numbers shown while the player itself says it gathers
    const auto watch = [&] {
        const std::string text = strip();
        if (text.starts_with("Playing    Delay") && (texts.empty() || texts.back() != text)) texts.push_back(text);
        if (said().ends_with("gathered") && onScreenNow() >= 0) held.insert(onScreenNow());
        return text == "Playing    Delay 5 s";
    };
    ASSERT_NO_FATAL_FAILURE(startWith("5"));
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    // No frame comes while gathering to take a new size: the held one is drawn again at it.
    ASSERT_TRUE(waitUntil([&] { return !watch() && !held.empty(); }, 5000)) << strip();
    const QSize size = window->size();
    for (const QSize to : {size - QSize(80, 60), size}) {
        window->resize(to);
        spin(500);
        EXPECT_EQ(player->videoImage().size(), player->videoRect().size());
    }
    ASSERT_TRUE(waitUntil(watch, 15000)) << strip();
    EXPECT_GE(sinceOpen.elapsed(), 4500);
    // The strip counted the seconds (their texts and order: the follower's unit test) on one held
    // frame; drawn again at the new size it may be the one mpv paused on, the next.
    EXPECT_GE(texts.size(), 5u);
    EXPECT_GE(held.size(), 1u);
    EXPECT_LE(held.size(), 2u);
    // From about 12 s on, pictures 1 s apart against the sender's newest frame.
    spin(std::max<int>(0, 12000 - static_cast<int>(sinceOpen.elapsed())));
    qint64 lastMs = 0;
    int lastNumber = -1;
    for (int i = 0; i < 5; ++i, spin(1000)) {
        const qint64 ms = sinceOpen.elapsed();
        const int number = onScreenNow();
        const double behind = framesBetween(number, sender.framesSent() - 1) / kFps;
        ASSERT_GE(number, 0);
        EXPECT_EQ(strip(), "Playing    Delay 5 s");
        EXPECT_NEAR(player->session().liveBehind(), 5.0, 0.25);
        // Plus the stream's latency on loopback (0.05 to 0.2 s), less the count's age (0.1 s).
        EXPECT_GE(behind, 5.0 - 0.1);
        EXPECT_LE(behind, 5.5);
        // The full frame rate, not the ring's ten, corrected by at most 3 %.
        if (lastNumber >= 0) {
            EXPECT_NEAR(framesBetween(lastNumber, number), (ms - lastMs) / 1000.0 * kFps, 3.0);
        }
        lastMs = ms;
        lastNumber = number;
    }
    // The sender stops: the 5 s received and not yet shown play out to about
    // its last frame, into the ring, before the stream is opened again.
    const int lastSent = sender.framesSent() - 1;
    const std::size_t atStop = captures.size();
    sender.stop();
    ASSERT_TRUE(waitUntil([&] { return strip().ends_with("Signal lost - playing what arrived..."); }, 5000))
        << strip();
    int shown = -1;
    EXPECT_TRUE(waitUntil([&] { return shown = onScreenNow(), framesBetween(shown, lastSent + 5) < 15; }, 8000))
        << shown << " shown, " << lastSent << " sent last";
    EXPECT_TRUE(waitUntil([&] { return strip().ends_with("Signal lost - reconnecting..."); }, 5000)) << strip();
    EXPECT_GT(captures.size(), atStop + 25);
    // Back: the delay is gathered again, hands free.
    ASSERT_TRUE(sender.start()) << sender.log();
    EXPECT_TRUE(waitUntil([&] { return strip() == "Playing    Delay 5 s"; }, 20000)) << strip();
    EXPECT_TRUE(desktop.boxes.empty());
}

// A delay longer than the cache holds ahead (300 kB, about 6 s of the clip) is
// cut to what it holds instead of gathering for ever.
TEST_F(EndToEndDelay, ADelayBeyondTheCacheIsCutToWhatItHolds) {
    frm->liveBuffer.aheadBytes = 300 << 10;
    ASSERT_NO_FATAL_FAILURE(startWith("20"));
    ASSERT_TRUE(waitUntil([&] { return said().find(':') == std::string::npos; }, 15000));
    const std::string text = said();
    ASSERT_TRUE(text.starts_with("Delay ") && text.ends_with(" s")) << text;
    const int cut = std::stoi(text.substr(6));
    EXPECT_GE(cut, 3);
    EXPECT_LE(cut, 7);
    spin(3000);
    EXPECT_EQ(said(), text);
    EXPECT_NEAR(player->session().liveBehind(), cut, 0.25);
}

}  // namespace
}  // namespace velmora::testing

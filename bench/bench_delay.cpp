// The delay behind live held over a long session: the numbered clip sent
// live over HTTP on 127.0.0.1 by ffmpeg, the program's window playing it
// with LiveDelay=10 (the ring capturing meanwhile).  Every minute it prints
// the lag the player holds (newest received - position) and the number on
// the screen against the sender's; at the end the largest deviation from
// the delay, and from the frames as mpv hands them to the window: frames
// shown twice, frames skipped and stalls (no new frame for 0.2 s).
//   usage: bench_delay NUMBERED_CLIP [SECONDS] [DELAY]
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "bench_ports.h"
#include "app/frm_main.h"
#include "app/main_window.h"
#include "base/qt_timer_host.h"
#include "capture/qt_client_area.h"
#include "playback/mpv_player.h"
#include "playback/mpv_session.h"
#include "support/event_loop.h"
#include "support/frame_number.h"
#include "support/live_sender.h"

using namespace velmora;
using velmora::testing::frameNumber;
using velmora::testing::LiveSender;

namespace {

constexpr int kClipFrames = 500;  // the numbered clip wraps after 20 s
constexpr double kFps = 25;

int framesFrom(int older, int newer) { return ((newer - older) % kClipFrames + kClipFrames) % kClipFrames; }

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_delay NUMBERED_CLIP [SECONDS] [DELAY]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
    const int delay = argc > 3 ? std::atoi(argv[3]) : 10;

    LiveSender sender(LiveSender::Protocol::Http, argv[1]);
    if (!sender.start()) {
        std::fprintf(stderr, "the sender did not start: %s\n", sender.log().c_str());
        return 1;
    }
    BenchProgram program;
    program.settings.values["LiveDelay"] = std::to_string(delay);
    MpvPlayer& player = program.player;
    MainWindow& window = program.window;
    FrmMain& frm = program.frm;

    // Every frame mpv hands over, once the delay runs.
    const std::string running = "Delay " + std::to_string(delay) + " s";
    QElapsedTimer clock;
    clock.start();
    int last = -1;
    qint64 lastNewAt = -1, longestGap = 0;
    long long frames = 0, twice = 0, skipped = 0, stalls = 0, unread = 0;
    QObject::connect(&player, &MpvPlayer::frameRendered, [&] {
        if (player.session().liveText() != running || player.playState() != play_state::kPlaying) {
            last = -1;
            return;
        }
        const int n = frameNumber(player.videoImage(), player.videoRect().topLeft());
        if (n < 0) return void(++unread);
        const qint64 now = clock.elapsed();
        ++frames;
        if (last >= 0) {
            const int step = framesFrom(last, n);
            if (step == 0) ++twice;
            if (step > 1) skipped += step - 1;
            if (step > 0 && now - lastNewAt > 200) ++stalls;
            if (step > 0) longestGap = std::max(longestGap, now - lastNewAt);
        }
        if (last < 0 || n != last) lastNewAt = now;
        last = n;
    });

    frm.Form_Load(sender.url());
    window.show();
    if (player.playState() != play_state::kPlaying) {
        std::fprintf(stderr, "the stream did not open: %s\n", player.errorDescription().c_str());
        return 1;
    }
    std::printf("== delay soak: %d s behind live, %d s of the numbered clip sent over HTTP on 127.0.0.1\n", delay,
                seconds);
    if (!testing::waitUntil([&] { return player.session().liveText() == running; }, (delay + 10) * 1000)) {
        std::printf("the delay was not reached: %s\n", player.session().liveText().c_str());
        return 1;
    }
    std::printf("gathered after %.1f s\n", clock.elapsed() / 1000.0);
    std::printf("   t (s)   lag (s)   behind sender (s)   max |lag - %d| this minute (s)\n", delay);

    double worst = 0, minuteWorst = 0;
    int notRunning = 0;
    const qint64 start = clock.elapsed();
    for (int t = 1; t <= seconds; ++t) {
        testing::spin(static_cast<int>(start + t * 1000 - clock.elapsed()));
        const double lag = player.session().liveBehind();
        if (player.session().liveText() != running) ++notRunning;
        minuteWorst = std::max(minuteWorst, std::abs(lag - delay));
        if (t % 60 == 0 || t == seconds) {
            const int n = frameNumber(player.videoImage(), player.videoRect().topLeft());
            const double behind = n < 0 ? -1 : framesFrom(n, sender.framesSent() - 1) / kFps;
            std::printf("%8d %9.2f %19.2f %22.3f\n", t, lag, behind, minuteWorst);
            std::fflush(stdout);
            worst = std::max(worst, minuteWorst);
            minuteWorst = 0;
        }
    }
    const double expected = seconds * kFps;
    std::printf("largest deviation of the lag from %d s: %.3f s (goal <= 0.25)\n", delay, worst);
    std::printf("frames seen %lld of about %.0f sent; shown twice %lld, skipped %lld, stalls %lld "
                "(longest gap %lld ms), unreadable %lld; seconds not at the delay %d\n",
                frames, expected, twice, skipped, stalls, static_cast<long long>(longestGap), unread, notRunning);
    std::printf("mpv's dropped frames: %lld at output, %lld at decoding\n", player.frameDropCount(),
                player.decoderFrameDropCount());
    const bool ok = worst <= 0.25 && twice == 0 && stalls == 0 && notRunning == 0;
    std::printf("%s\n", ok ? "goal met" : "goal missed");
    return ok ? 0 : 1;
}

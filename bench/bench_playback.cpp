// Playback cost of the player widget: open time to the first painted frame,
// frames rendered and dropped, and the process's CPU time over 20 s of
// playback of the file given.  Needs a display (run-playback-bench starts
// its own Xvfb).
#include <sys/resource.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "playback/mpv_player.h"
#include "support/event_loop.h"

using namespace velmora;
using velmora::testing::spin;
using velmora::testing::waitUntil;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}



bool blank(const QImage& image) {
    for (int y = 0; y < image.height(); y += 16)
        for (int x = 0; x < image.width(); x += 16)
            if (qGray(image.pixel(x, y)) > 16) return false;
    return true;
}

// Notes the first paint of the player after its first new frame.
struct FirstPaint : QObject {
    bool frameSeen = false;
    qint64 paintedAt = -1;
    QElapsedTimer clock;

    void arm() {
        frameSeen = false;
        paintedAt = -1;
        clock.start();
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && frameSeen && paintedAt < 0) paintedAt = clock.nsecsElapsed();
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_playback VIDEO\n");
        return 2;
    }
    const std::string path = argv[1];
    constexpr int kOpens = 5;
    constexpr int kPlaySeconds = 20;

    MpvPlayer player(nullptr, MpvOptions{"null"});
    FirstPaint firstPaint;
    player.installEventFilter(&firstPaint);
    // A redraw of the emptied picture is no frame of the video yet.
    QObject::connect(&player, &MpvPlayer::frameRendered, [&] {
        if (!firstPaint.frameSeen) firstPaint.frameSeen = !blank(player.videoImage());
    });
    player.resize(640, 360 + kControlStripHeight);
    player.show();
    waitUntil([&] { return player.windowHandle() && player.windowHandle()->isExposed(); }, 5000);

    // Open: from the call to the first frame on screen.  The first open also
    // sizes the window to the video.
    std::vector<double> openMs;
    for (int i = 0; i <= kOpens; ++i) {
        firstPaint.arm();
        player.setFileName(path);
        if (player.playState() != play_state::kPlaying) {
            std::fprintf(stderr, "open failed: %s\n", player.errorDescription().c_str());
            return 1;
        }
        if (!waitUntil([&] { return firstPaint.paintedAt >= 0; }, 5000)) {
            std::fprintf(stderr, "no frame was painted\n");
            return 1;
        }
        const double ms = firstPaint.paintedAt / 1e6;
        if (i == 0) {
            std::printf("first open (window at 640x430): %.1f ms\n", ms);
            player.resize(player.naturalWidth(), player.naturalHeight());
            spin(500);
        } else {
            openMs.push_back(ms);
        }
    }
    std::sort(openMs.begin(), openMs.end());
    const double openMedian = openMs[openMs.size() / 2];
    std::printf("open to first painted frame at %dx%d: median %.1f ms (min %.1f, max %.1f, %d opens)\n",
                player.naturalWidth(), player.naturalHeight(), openMedian, openMs.front(), openMs.back(),
                kOpens);

    // Playback from the start of the file just opened.
    const long long framesBefore = player.renderedFrames();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    spin(kPlaySeconds * 1000);
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.nsecsElapsed() / 1e9;
    const long long frames = player.renderedFrames() - framesBefore;
    std::printf(
        "playback %.1f s: %lld frames rendered (expected about %d), dropped: %lld at output, %lld at "
        "decoding\n",
        seconds, frames, kPlaySeconds * 30, player.frameDropCount(), player.decoderFrameDropCount());
    std::printf("process CPU over playback: %.2f s (%.0f %% of one core)\n", cpu, 100 * cpu / seconds);
    std::printf("RESULT open_ms=%.1f cpu_s=%.3f play_s=%.3f frames=%lld drops=%lld decoder_drops=%lld\n",
                openMedian, cpu, seconds, frames, player.frameDropCount(), player.decoderFrameDropCount());
    return 0;
}

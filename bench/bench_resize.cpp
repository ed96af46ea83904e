// The cost of resizing the window while a 1080p video plays in Fit mode: the
// UI thread's CPU time per resize event beyond that of playback alone, and
// the frames rendered and dropped meanwhile.  The whole program is built as
// it builds itself; a 3 s drag is 90 resizes of the window, one every 33 ms,
// between 1867 x 1133 and 1567 x 933.  Needs a display (run-resize-bench
// starts its own Xvfb).
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLocale>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "bench_ports.h"
#include "app/frm_main.h"
#include "app/main_window.h"
#include "capture/qt_client_area.h"
#include "playback/mpv_player.h"
#include "support/event_loop.h"
#include "base/qt_timer_host.h"

using namespace velmora;
using velmora::testing::spin;
using velmora::testing::waitUntil;

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct ResizeCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) ++count;
        return false;
    }
};

struct Phase {
    double cpuMs;
    long long frames, drops;
    int resizes;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_resize VIDEO\n");
        return 2;
    }
    constexpr int kPhaseMs = 3000, kStepMs = 33;
    constexpr double kGoalMs = 5.0;
    constexpr int kRounds = 4;  // within the 30 s of the video

    BenchProgram program;
    program.settings.SetConfigValue("zoom", "3");  // Fit
    MpvPlayer& player = program.player;
    MainWindow& window = program.window;
    FrmMain& frm = program.frm;
    const PrintingDesktop& desktop = program.desktop;
    frm.Form_Load("");
    window.show();
    waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 5000);
    window.resize(1867, 1133);
    frm.OpenMedia(argv[1]);
    if (player.playState() != play_state::kPlaying) {
        std::fprintf(stderr, "open failed: %s\n", player.errorDescription().c_str());
        return 1;
    }
    spin(1500);  // the ring fills, decoding settles

    ResizeCounter counter;
    window.clientArea()->installEventFilter(&counter);
    // A drag passes through ten sizes; in Fit the picture's cost goes with
    // its area, so playback alone is measured at the middle one, which has
    // about the drag's mean area (else a drag to smaller sizes would cost
    // less than playing at the size it ended at, resizes included).
    const auto size = [](int k) { return QSize(1867 - 30 * k, 1133 - 20 * k); };
    const auto phase = [&](bool drag) {
        if (!drag) {
            window.resize(size(5));
            spin(300);
        }
        const long long frames0 = player.renderedFrames();
        const long long drops0 = player.frameDropCount() + player.decoderFrameDropCount();
        const int resizes0 = counter.count;
        const double cpu0 = threadCpuMs();
        QElapsedTimer clock;
        clock.start();
        for (int step = 0; clock.elapsed() < kPhaseMs; ++step) {
            if (drag) {
                // Back and forth, as a hand drags a corner.
                const int k = step % 20 < 10 ? step % 10 : 10 - step % 10;
                window.resize(size(k));
            }
            spin(static_cast<int>(std::min<qint64>(kStepMs, kPhaseMs - clock.elapsed())));
        }
        return Phase{threadCpuMs() - cpu0, player.renderedFrames() - frames0,
                     player.frameDropCount() + player.decoderFrameDropCount() - drops0, counter.count - resizes0};
    };
    // Drags between stretches of plain playback, which give the cost of
    // playback alone around each drag; the median drag counts, the machine
    // being shared.
    std::vector<double> perEvent;
    // How far playback alone moves from one stretch to the next, per resize
    // event of a drag: differences smaller than that are noise.
    double noise = 0;
    long long drops = 0, frames = 0, stillFrames = 0;
    Phase before = phase(false);
    for (int round = 0; round < kRounds; ++round) {
        const Phase drag = phase(true);
        const Phase after = phase(false);
        const double baseMs = (before.cpuMs + after.cpuMs) / 2;
        perEvent.push_back(drag.resizes > 0 ? (drag.cpuMs - baseMs) / drag.resizes : 0);
        if (drag.resizes > 0) noise = std::max(noise, std::abs(before.cpuMs - after.cpuMs) / 2 / drag.resizes);
        std::printf("drag %d: UI thread CPU %.0f ms over %d resize events, %.0f ms playing around it; %lld frames "
                    "rendered (%lld without resizing), %lld dropped\n",
                    round + 1, drag.cpuMs, drag.resizes, baseMs, drag.frames, after.frames, drag.drops);
        drops += drag.drops;
        frames += drag.frames;
        stillFrames += after.frames;
        before = after;
    }
    std::sort(perEvent.begin(), perEvent.end());
    const double median = perEvent[perEvent.size() / 2];
    std::printf("frames rendered while dragging: %lld, without: %lld; dropped while dragging: %lld (target 0)\n",
                frames, stillFrames, drops);
    const bool met = median <= kGoalMs && drops == 0;
    std::printf("UI thread time per resize event at 1080p, Fit: median %.2f ms (min %.2f, max %.2f; playback "
                "alone moves by up to %.2f ms per event between stretches) (target <= %.1f)  %s\n",
                median, perEvent.front(), perEvent.back(), noise, kGoalMs, met ? "OK" : "MISSED");
    frm.Form_Unload();
    return desktop.messages == 0 && met ? 0 : 1;
}

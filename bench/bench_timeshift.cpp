// A camera's time-shift: FFmpeg's generated 1080p30 test picture (raw
// pictures, as a camera sends them) stands in for a camera in MJPEG at
// 1920 x 1080, played by the window with its ring of 50 captures and the
// real player.
//  - The encoder alone: how fast it encodes raw (4:2:0 and YUYV) and MJPEG
//    1080p pictures, and the bit rate it gives.
//  - Time-shift: played 65 s, then sent 60 s back and held there; the
//    process's resident memory (now and at its peak) against 1 GiB, whether
//    the seek landed 60 s back, and whether the encoded stream kept pace
//    with the clock.
//  - A delay of 60 s (LiveDelay=60): how far behind live it plays once
//    gathered, its resident memory against 1 GiB, and its CPU against the
//    same encoded camera played at live.
//  - The same picture read by the player directly, its raw pictures kept in
//    the cache as they come (the way before the encoder): its CPU, against
//    which the time-shift's CPU is set, and how little its cache holds.
// Each measure runs in a process of its own, so that one's memory is not
// the other's.
//   usage: bench_timeshift   (under an X server with room for a 1080p window)
#include <mpv/client.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench_ports.h"
#include "app/frm_main.h"
#include "app/main_window.h"
#include "base/qt_timer_host.h"
#include "capture/qt_client_area.h"
#include "playback/live_encoder.h"
#include "playback/mpv_player.h"
#include "proc_figures.h"
#include "support/event_loop.h"
#include "support/fake_video_devices.h"
#include "support/qt_desktop.h"

using namespace velmora;
using velmora::bench::cpuSeconds;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPicture = "testsrc2=size=1920x1080:rate=30";
constexpr double kGiB = 1024.0 * 1024 * 1024;

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
double statusBytes(const std::string& field) {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) * 1024;
    return -1;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The encoder alone on `input`, as fast as it goes, read at once: pictures
// per second.
double encodeSpeed(const char* what, const CaptureInput& input) {
    LiveEncoder encoder(input);
    if (!encoder.start()) return std::fprintf(stderr, "%s: %s\n", what, encoder.error().c_str()), -1;
    char block[65536];
    const auto t0 = Clock::now();
    const double cpu0 = cpuSeconds(getpid());
    while (encoder.figures().picturesEncoded < 300 && encoder.read(block, sizeof block) > 0) {
    }
    const double wall = seconds(Clock::now() - t0), cpu = cpuSeconds(getpid()) - cpu0;
    const auto f = encoder.figures();
    encoder.stop();
    const double fps = f.picturesEncoded / wall;
    const double mbits = f.bytesOut * 8.0 / (f.picturesEncoded / 30.0) / 1e6;
    std::printf("encoder alone, %s: %.0f pictures/s = %.1f x real time; %.1f CPU ms per picture; %.2f Mbit/s "
                "at 30 fps (cap %.1f)\n",
                what, fps, fps / 30, cpu * 1000 / f.picturesEncoded, mbits, kFeedMaxBitrate / 1e6);
    return fps;
}

// Raw pictures as the test picture makes them (4:2:0) and as raw cameras
// send them (YUYV 4:2:2), and MJPEG (4:2:2 JPEG, 300 pictures made by
// ffmpeg beforehand): the slowest decides.
int encodeSpeeds() {
    const double raw = encodeSpeed("raw 4:2:0 1920 x 1080 (made as fast as it goes)", {"lavfi", kPicture, {}});
    const double yuyv = encodeSpeed("raw YUYV 1920 x 1080", {"lavfi", std::string(kPicture) + ",format=yuyv422", {}});
    char folder[] = "/tmp/velmora-bench-timeshift-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string mjpeg = std::string(folder) + "/camera.mjpeg";
    const std::string make = "ffmpeg -v error -f lavfi -i " + std::string(kPicture) +
                             " -frames:v 300 -pix_fmt yuvj422p -c:v mjpeg -q:v 4 -f mjpeg " + mjpeg;
    const double jpeg = std::system(make.c_str()) == 0
                            ? encodeSpeed("MJPEG 4:2:2 1920 x 1080 (decoded first)", {"mjpeg", mjpeg, {{"framerate", "30"}}})
                            : -1;
    std::filesystem::remove_all(folder);
    std::printf("RESULT encode fps=%.1f\n", std::min({raw, yuyv, jpeg}));
    return 0;
}

// The window with the real player on the stand-in camera; `encode` off
// reads it directly; `delay` plays it that many seconds behind live.  Prints
// a RESULT line of figures.
int play(bool encode, int delay, int argc, char** argv) {
    QApplication app(argc, argv);
    QtTimerHost timers;
    QtDesktop desktop;
    MemorySettings settings;
    settings.values["LiveDelay"] = std::to_string(delay);
    MpvOptions options{"null"};
    options.cameraStandIn = CaptureInput{"lavfi", std::string(kPicture) + ",realtime", {}};
    options.encodeCameras = encode;
    auto* player = new MpvPlayer(nullptr, options);
    MainWindow window(player);
    QtClientArea area(window.clientArea(), player, [player]() -> const QImage* { return &player->videoImage(); },
                      [player] { return player->videoRect(); });
    FrmMain frm(timers, desktop, *player, settings, area);
    testing::FakeVideoDevices devices;
    devices.devices["/dev/video0"] = {"Stand-in", {{V4L2_PIX_FMT_MJPEG, {{1920, 1080, {30}}}}}};
    frm.videoDevices = &devices;
    window.bind(frm);
    frm.Form_Load("");
    window.show();
    QApplication::processEvents();

    MpvSession& session = player->session();
    // The cache's end (stream seconds) and how much it can seek in.
    const auto cache = [&] {
        std::pair<double, double> endAndHeld{-1, 0};
        mpv_node node;
        if (mpv_get_property(session.handle(), "demuxer-cache-state", MPV_FORMAT_NODE, &node) < 0) return endAndHeld;
        for (int i = 0; i < node.u.list->num; ++i) {
            const std::string key = node.u.list->keys[i];
            const mpv_node& v = node.u.list->values[i];
            if (key == "cache-end" && v.format == MPV_FORMAT_DOUBLE) endAndHeld.first = v.u.double_;
            if (key == "seekable-ranges" && v.format == MPV_FORMAT_NODE_ARRAY && v.u.list->num > 0) {
                const mpv_node& r = v.u.list->values[0];
                double start = 0, end = 0;
                for (int j = 0; j < r.u.list->num; ++j)
                    (std::string(r.u.list->keys[j]) == "start" ? start : end) = r.u.list->values[j].u.double_;
                endAndHeld.second = end - start;
            }
        }
        mpv_free_node_contents(&node);
        return endAndHeld;
    };

    const auto opening = Clock::now();
    frm.OpenMedia("/dev/video0");
    if (!player->live()) return std::fprintf(stderr, "the camera did not open: %s\n", player->errorDescription().c_str()), 1;
    testing::waitUntil([&] { return player->renderedFrames() > 0; }, 10000);
    const double firstPicture = seconds(Clock::now() - opening);
    testing::waitUntil([&] { return cache().first > 0; }, 10000);
    const auto t0 = Clock::now();
    const double cpu0 = cpuSeconds(getpid()), edge0 = cache().first;
    const double slotMiB = frm.capturedImage[1].bytes() / 1048576.0;
    std::printf("%s: first picture %.0f ms after the open began; slot %d x %d, ring 50 x %.1f MiB = %.0f MiB; the "
                "cache is bounded by %.0f MiB behind and %.0f MiB ahead\n",
                encode ? "time-shift" : "direct", firstPicture * 1000, frm.capturedImage[1].width,
                frm.capturedImage[1].height, slotMiB, 50 * slotMiB, kFeedCacheBytes / 1048576.0,
                kFeedCacheBytes / 1048576.0);

    const int playSeconds = encode ? 65 : 20;
    testing::spin(playSeconds * 1000);
    const double wall = seconds(Clock::now() - t0), cpu = cpuSeconds(getpid()) - cpu0;
    const auto [edge, held] = cache();
    const double pace = (edge - edge0) / wall;
    std::printf("  played %.0f s: CPU %.1f s = %.2f cores; the stream advanced %.2f s per second; the cache holds "
                "%.1f s; RSS %.0f MiB\n",
                wall, cpu, cpu / wall, pace, held, statusBytes("VmRSS") / 1048576);
    if (!encode) {
        std::printf("RESULT direct cpu=%.3f held=%.2f rss=%.0f\n", cpu / wall, held, statusBytes("VmRSS"));
        return 0;
    }
    if (delay > 0) {
        // Gathered by now; played behind live for a while, then measured.
        testing::spin(5000);
        const auto t1 = Clock::now();
        const double cpu1 = cpuSeconds(getpid());
        testing::spin(15000);
        const double delayedCpu = (cpuSeconds(getpid()) - cpu1) / seconds(Clock::now() - t1);
        const double rss = statusBytes("VmRSS"), peak = statusBytes("VmHWM");
        std::printf("  delay %d s (\"%s\"): %.2f s behind the newest received; CPU while delayed %.2f cores; "
                    "RSS %.0f MiB, peak %.0f MiB\n",
                    delay, session.liveText().c_str(), session.liveBehind(), delayedCpu, rss / 1048576,
                    peak / 1048576);
        std::printf("RESULT delay cpu=%.3f lag=%.2f rss=%.0f peak=%.0f\n", delayedCpu, session.liveBehind(), rss,
                    peak);
        return 0;
    }

    // 60 s back, and held there while the source keeps arriving.
    const double target = session.currentPosition() - 60;
    session.setCurrentPosition(target);
    frm.PauseVideo();
    testing::waitUntil([&] { return std::abs(session.currentPosition() - target) < 0.5; }, 10000);
    testing::spin(1000);
    const double landed = session.currentPosition();
    const double behind = cache().first - landed;
    const std::string text = session.liveText();
    testing::spin(10000);
    const double rss = statusBytes("VmRSS"), peak = statusBytes("VmHWM");
    std::printf("  sent 60 s back: landed %.2f s from the target, %.1f s behind the newest received (\"%s\"); "
                "held 10 s: RSS %.0f MiB, peak %.0f MiB\n",
                landed - target, behind, text.c_str(), rss / 1048576, peak / 1048576);
    std::printf("RESULT timeshift cpu=%.3f pace=%.3f landed=%.3f behind=%.2f rss=%.0f peak=%.0f held=%.2f\n",
                cpu / wall, pace, landed - target, behind, rss, peak, held);
    return 0;
}

// Runs this program with `mode` and returns its RESULT line's figures.
std::map<std::string, double> measure(const std::string& self, const std::string& mode) {
    std::map<std::string, double> figures;
    FILE* child = popen((self + " " + mode).c_str(), "r");
    if (!child) return figures;
    char line[1024];
    while (std::fgets(line, sizeof line, child)) {
        const std::string text = line;
        if (text.rfind("RESULT ", 0) != 0) {
            std::fputs(line, stdout);
            continue;
        }
        for (std::size_t at = text.find(' ', 7); at != std::string::npos; at = text.find(' ', at + 1)) {
            const auto eq = text.find('=', at);
            if (eq != std::string::npos) figures[text.substr(at + 1, eq - at - 1)] = std::atof(text.c_str() + eq + 1);
        }
    }
    std::fflush(stdout);
    if (pclose(child) != 0) figures.clear();
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--encode") return encodeSpeeds();
    if (mode == "--timeshift" || mode == "--direct") return play(mode == "--timeshift", 0, argc, argv);
    if (mode == "--delay") return play(true, 60, argc, argv);

    const std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
    std::printf("== A camera's 60 s time-shift (raw 1080p30 test picture standing in for the camera)\n");
    std::fflush(stdout);
    auto encodeFigures = measure(self, "--encode");
    auto shift = measure(self, "--timeshift");
    auto direct = measure(self, "--direct");
    auto delayed = measure(self, "--delay");
    if (encodeFigures.empty() || shift.empty() || direct.empty() || delayed.empty()) {
        std::printf("a measure failed\n");
        return 1;
    }
    const double ratio = shift["cpu"] / direct["cpu"];
    std::printf("CPU: time-shift %.2f cores, direct %.2f cores: %.2f x (what the encoder and the H.264 decoding "
                "cost)\n",
                shift["cpu"], direct["cpu"], ratio);
    std::printf("CPU: 60 s behind live %.2f cores, at live %.2f cores: %.2f x\n", delayed["cpu"], shift["cpu"],
                delayed["cpu"] / shift["cpu"]);
    std::printf("the direct cache holds %.1f s of raw pictures in the same bytes; the encoded one %.1f s\n",
                direct["held"], shift["held"]);
    std::string missed;
    const auto goal = [&](bool met, const char* what) {
        std::printf("goal: %s: %s\n", what, met ? "met" : "MISS");
        if (!met) missed += std::string(missed.empty() ? "" : "; ") + what;
    };
    goal(encodeFigures["fps"] >= 30, "the encoder keeps up with 30 fps");
    goal(shift["pace"] >= 0.97, "the encoded stream keeps pace with the clock");
    goal(shift["held"] >= 60, "the cache holds 60 s or more");
    goal(std::abs(shift["landed"]) <= 0.5 && shift["behind"] >= 59.5, "the seek lands 60 s back");
    goal(shift["peak"] <= kGiB, "peak resident memory <= 1 GiB");
    goal(std::abs(delayed["lag"] - 60) <= 0.25, "a 60 s delay plays 60 s behind");
    goal(delayed["peak"] <= kGiB, "a 60 s delay: peak resident memory <= 1 GiB");
    if (!missed.empty()) std::printf("MISSED: %s\n", missed.c_str());
    return missed.empty() ? 0 : 1;
}

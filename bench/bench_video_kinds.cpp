// What video beyond plain 8-bit SDR costs in the whole program, playing with
// a capture every 50 ms on a private Xvfb: process CPU and X server CPU over
// 20 s, medians of alternating runs (tools/make-video-kinds-media makes the
// videos).
//   HDR: 1080p PQ against the very same stream tagged SDR, so that only the
//        tone mapping differs (goal <= 1.5 x); and what 2160p PQ costs shown
//        at its own size.
//   1080i: against the same pictures coded progressive: the deinterlacer.
// Then the tone map's own pass per frame, without the program around it.
//
// usage: bench_video_kinds VELMORA_EXECUTABLE MEDIA_DIR
#include "proc_figures.h"
#include "support/frame_number.h"
#include "support/x_session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "playback/tone_map.h"

using namespace velmora::testing;
namespace fs = std::filesystem;

namespace {

using velmora::bench::cpuSeconds;
using velmora::bench::median;

constexpr int kRuns = 3;
constexpr double kPlaySeconds = 20;

struct Run {
    double cpu = -1, xCpu = 0;  // seconds over the playback
    int seen = 0, missed = 0;   // frames read off the screen, and those never there
    int width = 0, height = 0;  // of the window
};

// One run of the program on `video`: started in a folder of its own with no
// splash and a capture every 50 ms, measured from 1.5 s after its window
// shows the video's frame numbers.
Run play(const std::string& velmora, const std::string& video, XServer& server, XSession& x) {
    std::string tmpl = (fs::temp_directory_path() / "velmora-kinds-XXXXXX").string();
    const std::string folder = ::mkdtemp(tmpl.data());
    fs::create_directories(folder + "/bin");
    fs::copy_file(velmora, folder + "/bin/velmora");
    std::ofstream(folder + "/bin/Velmora.ini") << "[Velmora]\nStartCount=20\nFrameTime=0\n";
    Run r;
    Child program;
    Window window = 0;
    int sx = -1, sy = -1;  // where the strip is in the window
    const auto locate = [&] {
        for (const auto& t : x.windowsOf(program.pid())) {
            if (t.name.rfind("Velmora - ", 0) != 0) continue;
            window = t.id;
            const QImage img = x.grab(t.id, 0, 0, 480, 240);
            for (int y = 0; y + 32 <= img.height(); ++y)
                for (int px = 0; px + 320 <= img.width(); ++px)
                    if (stripNumber(img, px, y) >= 0) {
                        sx = px, sy = y;
                        return true;
                    }
        }
        return false;
    };
    if (program.start(
            {folder + "/bin/velmora", video},
            {"DISPLAY=" + server.display(), "QT_QPA_PLATFORM=xcb", "VELMORA_AO=null", "HOME=" + folder},
            folder, folder + "/stderr.txt") &&
        pollUntil([&] { return !x.windowsOf(program.pid()).empty(); }, 30000)) {
        pollUntil(locate, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        locate();
        XWindowAttributes a{};
        if (window && XGetWindowAttributes(x.display(), window, &a)) r.width = a.width, r.height = a.height;
        std::set<int> frames;
        const double cpu0 = cpuSeconds(program.pid()), x0 = cpuSeconds(server.pid());
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::duration<double>(kPlaySeconds)) {
            if (sx >= 0)
                if (const int n = stripNumber(x.grab(window, sx, sy, 320, 32), 0, 0); n >= 0)
                    frames.insert(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
        r.cpu = cpuSeconds(program.pid()) - cpu0;
        r.xCpu = cpuSeconds(server.pid()) - x0;
        if (!frames.empty()) {
            r.seen = static_cast<int>(frames.size());
            r.missed = *frames.rbegin() - *frames.begin() + 1 - r.seen;
        }
    }
    program.stop();
    fs::remove_all(folder);
    return r;
}

// Medians of runs alternating between the videos given, one figure line each.
std::vector<double> compare(const std::string& velmora, const std::vector<std::string>& videos,
                            XServer& server, XSession& x, int runs = kRuns) {
    std::vector<std::vector<Run>> all(videos.size());
    for (int run = 0; run < runs; ++run)
        for (std::size_t i = 0; i < videos.size(); ++i) all[i].push_back(play(velmora, videos[i], server, x));
    std::vector<double> medians;
    for (std::size_t i = 0; i < videos.size(); ++i) {
        std::vector<double> cpu;
        std::string each;
        int seen = 0, missed = 0;
        for (const Run& r : all[i]) {
            cpu.push_back(r.cpu + r.xCpu);
            seen += r.seen, missed += r.missed;
            char buf[48];
            std::snprintf(buf, sizeof buf, " %.2f+%.2f", r.cpu, r.xCpu);
            each += buf;
        }
        medians.push_back(median(cpu));
        std::printf("  %-24s window %4dx%-4d  CPU + X CPU over %.0f s: median %.2f s (%s)  frames %s\n",
                    fs::path(videos[i]).filename().c_str(), all[i].front().width, all[i].front().height,
                    kPlaySeconds, medians.back(), each.substr(1).c_str(),
                    seen ? (std::to_string(seen) + " shown, " + std::to_string(missed) + " never").c_str()
                         : "not readable");
    }
    return medians;
}

// The tone map's pass alone over a `w` x `h` picture of varied light: median
// ms of 20.
double mapMs(int w, int h) {
    velmora::ToneMap map;
    map.follow(velmora::Transfer::kPq, 1000 / 203.0);
    std::size_t stride = 0;
    std::uint16_t* from = map.source(w, h, stride);
    if (!from) return -1;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < 4 * w; ++i)
            reinterpret_cast<std::uint16_t*>(reinterpret_cast<char*>(from) + y * stride)[i] =
                static_cast<std::uint16_t>((i * 7919 + y * 104729) & 0xffff);
    std::vector<std::uint8_t> to(static_cast<std::size_t>(w) * 4 * h);
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const auto t0 = Clock::now();
        map.map(to.data(), static_cast<std::size_t>(w) * 4, w, h);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return median(ms);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_video_kinds VELMORA_EXECUTABLE MEDIA_DIR\n");
        return 2;
    }
    const std::string velmora = fs::absolute(argv[1]).string();
    const std::string media = fs::absolute(argv[2]).string() + "/";
    XServer server("2560x1600x24");
    XSession x(server.display());
    if (!x.ok()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    std::printf("== Kinds of video, whole program, capture every 50 ms (%d alternating runs)\n", kRuns);
    const auto hdr =
        compare(velmora, {media + "hevc10-sdr-1080p30.mp4", media + "hevc10-pq-1080p30.mp4"}, server, x);
    const bool met = hdr[0] > 0 && hdr[1] > 0 && hdr[1] <= 1.5 * hdr[0];
    std::printf("1080p HDR (PQ) against the same stream as SDR: %.2f x (goal <= 1.5 x): %s\n",
                hdr[1] / hdr[0], met ? "met" : "MISSED");
    {
        // At its own size, on a screen that holds it.
        XServer large("3840x2400x24");
        XSession lx(large.display());
        const auto uhd = compare(velmora, {media + "hevc10-pq-2160p30.mp4"}, large, lx, 2);
        std::printf("2160p HDR (PQ) at 100 %%: %.2f x the 1080p SDR stream's CPU (figure)\n",
                    uhd[0] / hdr[0]);
    }
    const auto deint = compare(velmora, {media + "h264-1080p25.mp4", media + "h264-1080i25.mp4"}, server, x);
    std::printf("1080i deinterlaced against the same pictures coded progressive: %.2f x (figure)\n",
                deint[1] / deint[0]);
    std::printf("tone map pass alone: %.2f ms a 1920x1080 frame, %.2f ms a 3840x2160 frame\n",
                mapMs(1920, 1080), mapMs(3840, 2160));
    return 0;
}

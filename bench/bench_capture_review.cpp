// Capture and review step, measured in the real window (offscreen), against
// a plain memcpy of the same bytes and against mpv stepping back one frame.
//
// usage: bench_capture_review [long-GOP 1080p video for mpv's frame-back-step]
#include <QApplication>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_ports.h"
#include "app/frm_main.h"
#include "app/main_window.h"
#include "capture/qt_client_area.h"
#include "support/qt_desktop.h"
#include "base/qt_timer_host.h"

// ---- Heap allocations made by the measuring thread, counted ----
static std::atomic<long long> gAllocations{0};
static thread_local bool tCounting = false;
void* operator new(std::size_t n) {
    if (tCounting) ++gAllocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long rssKiB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// A player that shows a still picture of its video size: the capture reads
// the picture the player paints, as with the real player.
class StillPlayer : public QWidget, public PlayerPort {
public:
    void setFileName(const std::string& path) override {
        // "WxH", made absolute by the window like any file name.
        const std::string name = path.substr(path.rfind('/') + 1);
        const auto x = name.find('x');
        w_ = std::stoi(name.substr(0, x));
        h_ = std::stoi(name.substr(x + 1));
        // The real player hands the capture its area of the window's
        // backing store: rows of the window's width, the area a few pixels in.
        const int windowWidth = w_ + 7;
        // (Twice as tall: the memcpy it is compared with reads a whole slot's
        // bytes from the area's first pixel on.)
        store_ = QImage(windowWidth, 2 * h_, QImage::Format_ARGB32_Premultiplied);
        image_ = QImage(store_.bits() + store_.bytesPerLine() + 3 * 4, w_, h_ - kControlStripHeight,
                        store_.bytesPerLine(), QImage::Format_RGB32);
        QPainter p(&image_);
        p.fillRect(image_.rect(), QColor(40, 90, 160));
        for (int i = 0; i < 20; ++i) p.fillRect(i * w_ / 20, 0, w_ / 40, image_.height(), QColor(220, 200, 40));
        raiseOpenStateChange(open_state::kClosed, open_state::kMediaOpen);
        state_ = play_state::kPaused;
        raisePlayStateChange(play_state::kNoMedia, state_);
    }
    std::string fileName() const override { return "still"; }
    double currentPosition() const override { return 0; }
    void setCurrentPosition(double) override {}
    std::string errorDescription() const override { return {}; }
    int playState() const override { return state_; }
    void setSlowSpeed(bool) override {}
    void play() override {}
    void pause() override {}
    int naturalWidth() const override { return w_; }
    int naturalHeight() const override { return h_; }
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(0, 0, image_);
        p.fillRect(0, height() - kControlStripHeight, width(), kControlStripHeight, QColor(212, 208, 200));
    }

private:
    int w_ = 239, h_ = 251, state_ = play_state::kNoMedia;
    QImage store_;
    QImage image_;
};

// mpv stepping back one frame through its JSON IPC, in ms per step.
std::vector<double> mpvFrameBackSteps(const std::string& video, int steps) {
    QTemporaryDir dir;
    const std::string sock = dir.path().toStdString() + "/mpv.sock";
    QProcess mpv;
    mpv.start("mpv", {"--no-config", "--vo=null", "--ao=null", "--pause", "--hr-seek=yes", "--idle=no",
                      QString::fromStdString("--input-ipc-server=" + sock), QString::fromStdString(video)});
    if (!mpv.waitForStarted(5000)) return {};
    int fd = -1;
    for (int i = 0; i < 200 && fd < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            fd = -1;
        }
    }
    std::vector<double> out;
    if (fd < 0) return out;
    std::string buffer;
    const auto waitFor = [&](const std::string& what) {
        char chunk[4096];
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            const auto pos = buffer.find(what);
            if (pos != std::string::npos) {
                buffer.erase(0, pos + what.size());
                return true;
            }
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<size_t>(n));
        }
        return false;
    };
    const auto send = [&](const std::string& cmd) { return write(fd, cmd.data(), cmd.size()) > 0; };
    // Everything mpv said so far, so that the next wait sees only what
    // answers the next command (loading the file restarts playback too).
    const auto drain = [&] {
        char chunk[4096];
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 200) > 0 && read(fd, chunk, sizeof chunk) > 0) {
        }
        buffer.clear();
    };
    // Let the file load, then stand in the middle of a long GOP.
    drain();
    send("{\"command\":[\"seek\",15,\"absolute+exact\"]}\n");
    if (!waitFor("\"event\":\"playback-restart\"")) return out;
    for (int i = 0; i < steps; ++i) {
        drain();
        const auto t0 = Clock::now();
        send("{\"command\":[\"frame-back-step\"]}\n");
        if (!waitFor("\"event\":\"playback-restart\"")) break;
        out.push_back(ms(Clock::now() - t0));
    }
    send("{\"command\":[\"quit\"]}\n");
    close(fd);
    mpv.waitForFinished(5000);
    return out;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QtTimerHost timers;
    QtDesktop desktop;
    MemorySettings settings;
    auto* player = new StillPlayer;
    MainWindow window(player);
    QtClientArea area(window.clientArea(), player, [player]() -> const QImage* { return &player->image(); },
                      [player] { return QRect(0, 0, player->width(), player->height() - kControlStripHeight); });
    FrmMain frm(timers, desktop, *player, settings, area);
    window.bind(frm);
    frm.Form_Load("");
    window.show();
    QApplication::processEvents();

    std::printf("== One capture (25 tiles into a slot) against memcpy of the slot's bytes\n");
    bool ok = true;
    for (auto [w, h] : {std::pair{320, 310}, std::pair{1280, 790}, std::pair{1920, 1150}}) {
        frm.OpenMedia(std::to_string(w) + "x" + std::to_string(h));
        QApplication::processEvents();
        const FrameSlot& slot = frm.capturedImage[1];
        const std::size_t bytes = slot.bytes();
        const int runs = w > 1000 ? 200 : 2000;
        std::vector<double> capture, copy;
        capture.reserve(runs);  // the bench's own bookkeeping allocates nothing while measuring
        copy.reserve(runs);
        // The first ring into the fresh slots: the first capture starts the
        // mapping in of the others' pages, which waits for the size to settle.
        frm.CaptureImage();
        for (int i = 0; i < 600 && slotPagesPending(); ++i) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const bool mappedIn = !slotPagesPending();
        std::vector<double> first;
        first.reserve(kRingSize);
        for (int i = 1; i < kRingSize; ++i) {
            const auto t0 = Clock::now();
            frm.CaptureImage();
            first.push_back(ms(Clock::now() - t0));
        }
        for (int i = 0; i < kRingSize; ++i) frm.CaptureImage();  // warm up every slot
        // A ring of captures, then a ring of plain memcpys of the same bytes
        // from the player's picture into the same slots in the same order,
        // and again: each write finds its slot as cold as the other kind
        // does, and both see the same load of a shared machine.
        const QImage& picture = player->image();
        long long allocs = 0;
        const long rssBefore = rssKiB();
        for (int done = 0; done < runs; done += kRingSize) {
            const long start = frm.mlCapturePos;
            const long long before = gAllocations.load();
            tCounting = true;
            for (int i = 0; i < kRingSize; ++i) {
                const auto t0 = Clock::now();
                frm.CaptureImage();
                capture.push_back(ms(Clock::now() - t0));
            }
            tCounting = false;
            allocs += gAllocations.load() - before;
            for (int i = 0; i < kRingSize; ++i) {
                const long k = start - i < 1 ? start - i + kRingSize : start - i;  // the slot capture i wrote
                FrameSlot& target = frm.capturedImage[static_cast<std::size_t>(k)];
                const auto t0 = Clock::now();
                std::memcpy(target.pixels.get(), picture.constBits(), bytes);
                copy.push_back(ms(Clock::now() - t0));
                asm volatile("" : : "r"(target.pixels.get()) : "memory");
            }
        }
        const long rssAfter = rssKiB();
        const double ratio = median(capture) / median(copy);
        const double perCapture = static_cast<double>(allocs) / runs;
        ok &= ratio <= 1.1 && allocs == 0;
        std::printf("player %4d x %4d  slot %4d x %4d  capture %.3f ms  memcpy %.3f ms  ratio %.2f (<= 1.1)  "
                    "heap allocations per capture %.2f (0)  RSS growth %ld KiB  fast tiles %lld rendered %lld  %s stores\n",
                    w, h, slot.width, slot.height, median(capture), median(copy), ratio, perCapture,
                    rssAfter - rssBefore, area.copiedTiles(), area.renderedTiles(),
                    area.slotStores() == SlotStores::Streamed ? "streamed" : "cached");
        std::printf("  the ring: 50 x %.1f MiB = %.0f MiB; the first captures into fresh slots: median %.3f ms, max %.3f ms%s\n",
                    bytes / 1048576.0, 50 * bytes / 1048576.0, median(first), *std::max_element(first.begin(), first.end()),
                    mappedIn ? "" : " (their pages were still being mapped in)");
    }

    std::printf("\n== One review step at 1920 x 1080 (ShowImage of the next age and the repaint)\n");
    frm.OpenMedia("1920x1080");
    QApplication::processEvents();
    for (int i = 0; i < 60; ++i) frm.CaptureImage();
    std::vector<double> steps;
    steps.reserve(200);
    const long rssBefore = rssKiB();
    const long long allocBefore = gAllocations.load();
    for (int round = 0; round < 4; ++round) {
        for (long age = 1; age <= 50; ++age) {
            tCounting = true;
            const auto t0 = Clock::now();
            frm.ShowImage(age);
            window.widgetOf(Ctl::oCaptured, static_cast<int>(frm.mlCapturePos + age > 50 ? frm.mlCapturePos + age - 50
                                                                                          : frm.mlCapturePos + age))
                ->repaint();
            steps.push_back(ms(Clock::now() - t0));
            tCounting = false;
        }
        frm.ShowImage(0);
        QApplication::processEvents();
    }
    const double step = median(steps);
    ok &= step <= 5;
    std::printf("step median %.3f ms (<= 5), max %.3f ms; RSS growth over %zu steps %ld KiB; "
                "heap allocations per step %.1f\n",
                step, *std::max_element(steps.begin(), steps.end()), steps.size(), rssKiB() - rssBefore,
                static_cast<double>(gAllocations.load() - allocBefore) / steps.size());

    if (argc > 1) {
        const auto mpvSteps = mpvFrameBackSteps(argv[1], 10);
        if (mpvSteps.empty()) {
            std::printf("mpv frame-back-step: could not be measured\n");
        } else {
            std::printf("mpv frame-back-step on %s: median %.1f ms per step (%zu steps); Velmora is %.0f x faster\n",
                        argv[1], median(mpvSteps), mpvSteps.size(), median(mpvSteps) / step);
        }
    }
    std::printf("\n%s\n", ok ? "all targets met" : "TARGET MISSED");
    frm.Form_Unload();
    return ok ? 0 : 1;
}

// The real program as a native client of a Wayland compositor: a headless
// sway of the test's own, keys typed with wtype, the screen read with grim and
// the clipboard with wl-paste.  sway refuses to run as root, and CI runs the
// tests as root: there the compositor and every client run as "nobody".
// The numbered clip shows its true colours (black as black, grey as grey
// rather than blended with the desktop) while it plays and in review, F5 held
// steps back, Copy Image pastes the frame shown into another program, and a
// window that the compositor tiles covers its place at every zoom.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <filesystem>
#include <cstdio>
#include <functional>
#include <map>

#include "support/files.h"
#include "support/frame_number.h"
#include "support/x_session.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::Child;
using testing::pollUntil;
using testing::stripNumber;

constexpr int kWaitMs = 30000;           // a sanitizer build starts and draws several times slower
const QRgb kDesktop = qRgb(63, 63, 63);  // what sway shows where no window is

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char ch : s) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

// A headless sway in a folder of its own, and what runs under it.
class Compositor {
public:
    Compositor() {
        fs::create_directories(root_ / "run");
        fs::copy_file(std::getenv("VELMORA_BIN"), root_ / "velmora");
        fs::copy_file(testing::mediaPath("numbered.mp4"), clip());
        testing::writeAll(root_ / "sway.conf",
                          "xwayland disable\ndefault_border none\ndefault_floating_border none\n");
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("nobody");
            if (!pw) return;
            uid_ = pw->pw_uid;
            gid_ = pw->pw_gid;
            for (const auto& p : fs::recursive_directory_iterator(root_))
                (void)!::chown(p.path().c_str(), uid_, gid_);
            (void)!::chown(root_.c_str(), uid_, gid_);
        }
        ::chmod(root_.c_str(), 0755);
        ::chmod((root_ / "run").c_str(), 0700);
        sway_.start(asUser({"/usr/bin/sway", "-c", (root_ / "sway.conf").string()},
                           {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"}),
                    {}, root_.string(), (root_ / "sway.log").string());
        pollUntil(
            [&] {
                for (const auto& e : fs::directory_iterator(root_ / "run")) {
                    const std::string name = e.path().filename().string();
                    if (name.starts_with("wayland-") && !name.ends_with(".lock")) display_ = name;
                    if (name.starts_with("sway-ipc.")) ipc_ = e.path().string();
                }
                // Clients come once the compositor has its screen.
                return !display_.empty() && !ipc_.empty() &&
                       run("swaymsg -t get_outputs").find("HEADLESS-") != std::string::npos;
            },
            kWaitMs, std::chrono::milliseconds(50));
    }
    ~Compositor() {
        app_.reset();
        sway_.stop();
    }

    bool ok() { return sway_.running() && !display_.empty() && !ipc_.empty(); }
    std::string log() {
        std::string shown;
        for (const auto& [title, rect] : windows()) shown += " \"" + title + "\"";
        if (app_ && !app_->running()) shown += " (the program ended: " + std::to_string(*app_->waitExit(0)) + ")";
        return "sway, wtype, grim and wl-clipboard run this test (make deps installs them); windows:" +
               shown + "\n" + testing::readAll(root_ / "sway.log") + testing::readAll(root_ / "app.log");
    }
    std::string clip() const { return (root_ / "numbered.mp4").string(); }
    // Ends the program as a logout does: whether it ends by itself, not by a
    // signal (the sanitizers' leak report ends it with 1).
    bool quits() {
        ::kill(app_->pid(), SIGTERM);
        const auto status = app_->waitExit(kWaitMs);
        return status && *status < 128;
    }

    // Starts the program under the compositor, Qt left to choose its platform
    // as in a desktop session; the settings as a first start leaves them.
    void start(const std::vector<std::string>& args) {
        app_.reset();
        testing::writeAll(root_ / "Velmora.ini", "[Velmora]\nStartCount=20\n");
        (void)!::chown((root_ / "Velmora.ini").c_str(), uid_, gid_);
        std::vector<std::string> argv{(root_ / "velmora").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env{"XDG_SESSION_TYPE=wayland", "VELMORA_AO=null"};
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
        app_ = std::make_unique<Child>();
        app_->start(asUser(argv, env), {}, root_.string(), (root_ / "app.log").string());
    }

    // Runs a command line under the compositor; what it prints.
    std::string run(const std::string& command) {
        std::string line;
        for (const auto& a : asUser({"/bin/sh", "-c", command})) line += quoted(a) + " ";
        return testing::run(line);
    }
    // Keys as wtype sends them.  Each wtype takes the keyboard focus away for
    // a moment when it starts: a modifier goes down and up first, and the
    // steps of a chord are 100 ms apart.
    void keys(const std::string& steps) { run("wtype -M shift -m shift -s 300 " + steps); }
    void chord(const std::string& modifier, const std::string& key) {
        keys("-M " + modifier + " -s 100 -P " + key + " -s 100 -p " + key + " -s 100 -m " + modifier);
    }

    QImage screen() {
        const std::string path = (root_ / "run" / "screen.ppm").string();
        run("grim -t ppm " + path);
        return QImage(QString::fromStdString(path));
    }

    // The program's windows, by title, where they are on the screen.
    std::map<std::string, QRect> windows() {
        std::map<std::string, QRect> out;
        const QJsonDocument tree =
            QJsonDocument::fromJson(QByteArray::fromStdString(run("swaymsg -r -t get_tree")));
        std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
            if (node.value("app_id").toString() == "velmora") {
                const QJsonObject r = node.value("rect").toObject();
                out[node.value("name").toString().toStdString()] =
                    QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(),
                          r.value("height").toInt());
            }
            for (const char* list : {"nodes", "floating_nodes"})
                for (const auto& child : node.value(list).toArray()) walk(child.toObject());
        };
        walk(tree.object());
        return out;
    }
    std::optional<QRect> window(const std::string& title) {
        std::optional<QRect> found;
        pollUntil(
            [&] {
                const auto w = windows();
                if (auto it = w.find(title); it != w.end()) found = it->second;
                return found.has_value() || (app_ && !app_->running());
            },
            kWaitMs, std::chrono::milliseconds(100));
        return found;
    }

private:
    // The command line that runs argv as the test's user, with only the
    // environment of the session.
    std::vector<std::string> asUser(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& env = {}) {
        std::vector<std::string> line;
        if (uid_ != ::geteuid())
            line = {"/usr/bin/setpriv",
                    "--reuid=" + std::to_string(uid_),
                    "--regid=" + std::to_string(gid_),
                    "--clear-groups",
                    "--pdeathsig=KILL",
                    "--"};
        line.insert(line.end(), {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=" + root_.string(),
                                 "XDG_RUNTIME_DIR=" + (root_ / "run").string(), "LC_ALL=C.UTF-8"});
        if (!display_.empty()) line.insert(line.end(), {"WAYLAND_DISPLAY=" + display_, "SWAYSOCK=" + ipc_});
        line.insert(line.end(), env.begin(), env.end());
        line.insert(line.end(), argv.begin(), argv.end());
        return line;
    }

    testing::TempDir dir_{"wayland"};
    const fs::path root_ = dir_.path;
    uid_t uid_ = ::geteuid();
    gid_t gid_ = ::getegid();
    Child sway_;
    std::string display_, ipc_;
    std::unique_ptr<Child> app_;
};

// Pixels that show the desktop through a window: many where a window is
// see-through, none where it covers its place (a few in anti-aliased text).
int desktopPixels(const QImage& shot, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += shot.pixel(x, y) == kDesktop;
    return n;
}

// The top left corner of the numbered clip at 100 % in the window: found by
// its number strip, then the exact edges (block 9 is black in every frame;
// the window's background, 240 grey, is neither black nor white).
std::optional<QPoint> clipAt(const QImage& shot, QRect window) {
    const auto black = [&](int x, int y) {
        return qRed(shot.pixel(x, y)) < 40 && qGreen(shot.pixel(x, y)) < 40;
    };
    for (int y = window.top(); y < window.top() + 150; ++y)
        for (int x = window.left(); x < window.left() + 20; ++x) {
            if (stripNumber(shot, x, y) < 0) continue;
            int top = y - 8, left = x - 8;
            while (top < y + 8 && !black(x + 9 * 32 + 16, top)) ++top;
            while (left < x + 8 && !black(left, top + 16) && qGray(shot.pixel(left, top + 16)) < 250) ++left;
            return QPoint(left, top);
        }
    return std::nullopt;
}

// The frame shown at `at`, checked for true colours: the black blocks of its
// number black, the middle of the clip's grey cross (always at 78, 180) grey.
int checkedFrame(const QImage& shot, QPoint at) {
    const int n = stripNumber(shot, at.x(), at.y());
    if (n < 0) return n;
    for (int bit = 0; bit < 10; ++bit) {
        const QRgb p = shot.pixel(at + QPoint(32 * bit + 16, 16));
        if (!(n >> bit & 1)) {
            EXPECT_LE(std::max({qRed(p), qGreen(p), qBlue(p)}), 16) << "black block " << bit;
        }
    }
    int grey[3] = {};
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const QRgb p = shot.pixel(at + QPoint(78 + dx, 180 + dy));
            grey[0] += qRed(p), grey[1] += qGreen(p), grey[2] += qBlue(p);
        }
    for (int c : grey) EXPECT_NEAR(c / 9, 128, 15) << "the grey of frame " << n;
    return n;
}

TEST(Wayland, ATiledWindowCoversItsPlaceAtEveryZoom) {
    Compositor c;
    ASSERT_TRUE(c.ok()) << c.log();
    c.start({c.clip()});
    auto window = c.window("Velmora - " + c.clip());
    if (!window) {
        // Seen once in a loaded parallel run: the program gone before its
        // first window, with nothing in its log.  Said, and tried once more.
        std::fprintf(stderr, "first start showed no window:\n%s\n", c.log().c_str());
        c.start({c.clip()});
        window = c.window("Velmora - " + c.clip());
    }
    ASSERT_TRUE(window) << c.log();
    // Tiled, it fills the screen; the zoom asks for less.
    EXPECT_EQ(window->size(), c.screen().size());
    sleepMs(1500);
    EXPECT_LT(desktopPixels(c.screen(), *window), 50) << "the window is see-through";
    c.chord("ctrl", "F2");
    sleepMs(1500);
    const QImage shot = c.screen();
    EXPECT_LT(desktopPixels(shot, *window), 50) << "at 200 % the window does not cover its place";
    EXPECT_NE(shot.pixel(window->topLeft() + QPoint(2, 2)), kDesktop);

    // Shown floating and tiled later, past the time a first size is waited
    // for, it covers its place as well.
    EXPECT_TRUE(c.quits()) << "ended playing, tiled at 200 %";
    c.run("swaymsg 'for_window [app_id=velmora] floating enable'");
    c.start({c.clip()});
    ASSERT_TRUE(c.window("Velmora - " + c.clip())) << c.log();
    sleepMs(5500);
    c.run("swaymsg '[app_id=velmora] floating disable'");
    for (const char* key : {"F2", "F3"}) {
        c.chord("ctrl", key);
        sleepMs(1500);
        EXPECT_LT(desktopPixels(c.screen(), *c.window("Velmora - " + c.clip())), 50)
            << "tiled later, Ctrl+" << key;
    }
    EXPECT_TRUE(c.quits()) << "ended playing, floated and tiled";
}

TEST(Wayland, OpensPlaysReviewsAndCopiesInTrueColours) {
    Compositor c;
    ASSERT_TRUE(c.ok()) << c.log();
    c.run("swaymsg 'for_window [app_id=velmora] floating enable'");  // the zoom holds: the clip at 100 %
    c.start({});
    ASSERT_TRUE(c.window("Velmora")) << c.log();
    c.chord("ctrl", "o");
    ASSERT_TRUE(c.window("Open Video File")) << "File > Open shows no dialog";
    c.keys(c.clip() + " -s 200 -k Return");
    const auto window = c.window("Velmora - " + c.clip());
    ASSERT_TRUE(window) << "the clip did not open\n" << c.log();

    std::optional<QPoint> at;
    ASSERT_TRUE(pollUntil([&] { return (at = clipAt(c.screen(), *window)).has_value(); }, kWaitMs))
        << "no numbered frame in the window";
    int playing = -1;
    ASSERT_TRUE(pollUntil(
        [&] {
            const int first = checkedFrame(c.screen(), *at);
            sleepMs(300);
            playing = checkedFrame(c.screen(), *at);
            return first > 30 && playing > first;
        },
        kWaitMs))
        << "the clip does not play";
    ASSERT_FALSE(HasFailure());

    // Held past the key repeat's delay (sway's 600 ms), and long enough to
    // step back past what played while wtype started.
    c.keys("-P F5 -s 1200 -p F5");
    int reviewed = -1;
    ASSERT_TRUE(pollUntil(
        [&] { return (reviewed = checkedFrame(c.screen(), *at)) >= 0 && reviewed < playing; }, kWaitMs))
        << "F5 did not show an earlier frame (playing " << playing << ", shown " << reviewed << ")";
    sleepMs(300);
    EXPECT_EQ(checkedFrame(c.screen(), *at), reviewed) << "the reviewed frame does not stay";

    c.chord("ctrl", "c");
    int pasted = -1;
    EXPECT_TRUE(pollUntil(
        [&] {
            const QImage image =
                QImage::fromData(QByteArray::fromStdString(c.run("wl-paste -t image/png")), "PNG");
            return (pasted = testing::frameNumber(image)) == reviewed;
        },
        kWaitMs, std::chrono::milliseconds(200)))
        << "pasted frame " << pasted << ", shown " << reviewed;
    EXPECT_TRUE(c.quits()) << "ended in review";
}

}  // namespace
}  // namespace velmora

// The real program, started on files that are not what it hopes for, under
// its own X server and driven through it.  (Settings files that are not what
// it hopes for: the settings unit tests, on the same file code.)  Each start
// either plays or says why it cannot, and the program stays usable: it then
// opens a good video from File > Open, plays, steps back through the
// captured frames, copies one, and exits cleanly (under the sanitizer build
// that is also the leak checker's verdict on the whole session).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/files.h"
#include "support/frame_number.h"
#include "support/x_session.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::Child;
using testing::pollUntil;
using testing::stripNumber;
using testing::XServer;
using testing::XSession;

const std::string kTitle = "Velmora";
// Generous: a sanitizer build starts and draws several times slower.
constexpr int kWaitMs = 30000;

using testing::mediaPath;
using testing::readAll;
using testing::writeAll;

// One session of the program in a folder of its own: the executable is
// copied there, so that its Velmora.ini is the test's.
class Session {
public:
    explicit Session(const std::string& name) : dir_(name) {
        fs::create_directories(bin());
        fs::copy_file(std::getenv("VELMORA_BIN"), bin() / "velmora");
        fs::copy_file(mediaPath("numbered.mp4"), good());
        writeAll(ini(), "[Velmora]\nStartCount=20\n");
    }

    fs::path root() const { return root_; }
    fs::path bin() const { return root_ / "bin"; }
    fs::path ini() const { return bin() / "Velmora.ini"; }
    fs::path good() const { return root_ / "good.mp4"; }
    std::string log() const { return readAll(root_ / "stderr.txt"); }
    const std::vector<std::string>& boxes() const { return boxes_; }

    // Starts the program with `argument` (none when empty) in the session folder.
    void start(const std::optional<std::string>& argument) {
        server_ = std::make_unique<XServer>();
        ASSERT_FALSE(server_->display().empty()) << "Xvfb did not start";
        x_ = std::make_unique<XSession>(server_->display());
        ASSERT_TRUE(x_->ok());
        std::vector<std::string> argv{(bin() / "velmora").string()};
        if (argument) argv.push_back(*argument);
        app_ = std::make_unique<Child>();
        ASSERT_TRUE(app_->start(argv,
                                {"DISPLAY=" + server_->display(), "QT_QPA_PLATFORM=xcb", "VELMORA_AO=null",
                                 "HOME=" + root_.string(), "XDG_CONFIG_HOME=" + (root_ / "config").string()},
                                root_, (root_ / "stderr.txt").string()));
        // A file that does not open is reported before the window shows.
        ASSERT_TRUE(pollUntil([&] { return main() != 0 || box() != 0 || !app_->running(); }, kWaitMs))
            << "no window";
        ASSERT_TRUE(app_->running()) << "the program ended at start:\n" << log();
    }

    // The main window: the program's first top-level window.
    Window main() {
        const auto w = x_->windowsOf(app_->pid());
        for (const auto& t : w)
            if (t.name.rfind(kTitle, 0) == 0 && t.name != kTitle) return t.id;
        return 0;
    }
    std::string caption() { return x_->name(main()); }

    // A message box (a top-level window titled just "Velmora") if one is up.
    Window box() {
        for (const auto& t : x_->windowsOf(app_->pid()))
            if (t.name == kTitle) return t.id;
        return 0;
    }

    // Closes the message boxes that come up, the first within `ms`, any
    // further one soon after; records their texts from the log.
    void dismissBoxes(int ms) {
        while (pollUntil([&] { return box() != 0; }, ms)) {
            ms = 500;
            const Window b = box();
            x_->focus(b);
            x_->tap(XK_Return);
            ASSERT_TRUE(pollUntil([&] { return box() != b; }, kWaitMs)) << "a message box does not close";
        }
        // One record per box; a text's own line breaks are "\r\n".
        std::istringstream lines(log());
        boxes_.clear();
        bool continued = false;
        for (std::string line; std::getline(lines, line);) {
            if (continued) boxes_.back() += "\n" + line;
            else if (line.rfind("[message] ", 0) == 0) boxes_.push_back(line.substr(10));
            else continue;
            continued = !line.empty() && line.back() == '\r';
        }
    }

    // File > Open on the good video, and the caption that names it.
    void openGoodFile() {
        x_->focus(main());
        x_->tap(XK_o, {XK_Control_L});
        Window dialog = 0;
        ASSERT_TRUE(pollUntil(
            [&] {
                for (const auto& t : x_->windowsOf(app_->pid()))
                    if (t.name == "Open Video File") dialog = t.id;
                return dialog != 0;
            },
            kWaitMs))
            << "File > Open shows no dialog";
        x_->focus(dialog);
        x_->type(good().string());
        x_->tap(XK_Return);
        ASSERT_TRUE(pollUntil([&] { return caption() == kTitle + " - " + good().string(); }, kWaitMs))
            << "the good video did not open; caption \"" << caption() << "\"\n"
            << log();
    }

    // The frame number on screen, found anywhere in the top left of the window.
    int shownFrame() {
        const QImage shot = x_->grab(main());
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 100; ++x)
                if (const int n = stripNumber(shot, x, y); n >= 0 && n < 500) return n;  // 500 frames
        return -1;
    }

    // Plays, holds F5 to step back through the ring, copies the frame shown.
    void playReviewAndCopy() {
        int playing = -1;
        // Playing: a frame number well into the video, and a later one soon after
        // (what a window still being laid out shows cannot pass for it).
        ASSERT_TRUE(pollUntil(
            [&] {
                const int first = shownFrame();
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                playing = shownFrame();
                return first > 30 && playing > first && playing - first < 25;
            },
            kWaitMs))
            << "the video does not play on screen";
        x_->focus(main());
        x_->key(XK_F5, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(350));  // below the auto-repeat delay
        x_->key(XK_F5, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the release reaches the program
        int reviewed = -1;
        const bool stepped = pollUntil([&] { return (reviewed = shownFrame()) >= 0 && reviewed < playing; }, kWaitMs);
        ASSERT_TRUE(stepped)
            << "F5 did not show an earlier frame (playing " << playing << ", shown " << reviewed << ")";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(shownFrame(), reviewed) << "the reviewed frame does not stay";
        x_->tap(XK_c, {XK_Control_L});
        ASSERT_TRUE(pollUntil([&] { return x_->clipboardOwner() != 0; }, kWaitMs)) << "Copy put nothing on the clipboard";
    }

    // File > Exit; the exit status, after closing any box on the way out.
    std::optional<int> exit() {
        x_->focus(main());
        x_->tap(XK_f, {XK_Alt_L});
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        x_->tap(XK_x);
        std::optional<int> status;
        pollUntil(
            [&] {
                if (box()) dismissBoxes(0);
                return (status = app_->waitExit(0)).has_value();
            },
            kWaitMs);
        return status;
    }

    bool running() { return app_->running(); }

private:
    testing::TempDir dir_;
    const fs::path root_ = dir_.path;
    std::unique_ptr<XServer> server_;
    std::unique_ptr<XSession> x_;
    std::unique_ptr<Child> app_;
    std::vector<std::string> boxes_;
};

// What the rest of a session does after the start under test; the log must
// show no sanitizer report.
void useAndExit(Session& s) {
    ASSERT_NO_FATAL_FAILURE(s.openGoodFile());
    ASSERT_NO_FATAL_FAILURE(s.playReviewAndCopy());
    const auto status = s.exit();
    ASSERT_TRUE(status.has_value()) << "the program does not exit";
    const std::string log = s.log();
    EXPECT_EQ(*status, 0) << log;
    for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
        EXPECT_EQ(log.find(report), std::string::npos) << log;
}

// ------------------------------------------------------------------ videos

enum class Expect { Plays, Message };

struct FileCase {
    const char* name;
    const char* media;  // the generated file copied into the session folder as `as`, or none
    const char* as;     // a bare name is in the session folder; "-", a path or a URL is the argument as it is
    Expect expect;
};

// Makes the input in the session folder; the argument to start with.
std::string argumentFor(const FileCase& c, const fs::path& root) {
    if (c.media) fs::copy(mediaPath(c.media), root / c.as, fs::copy_options::recursive);
    const std::string as = c.as;
    return as == "-" || as[0] == '/' || as.find("://") != std::string::npos ? as : (root / as).string();
}

const FileCase kFileCases[] = {
    // (The player's own test gives the reasons for the other files it cannot open.)
    {"MissingPath", nullptr, "not-there.mp4", Expect::Message},
    {"Directory", "folder.mp4", "folder.mp4", Expect::Message},
    {"Blanks", "numbered.mp4", "a  clip with blanks .mp4", Expect::Plays},
    {"Quotes", "numbered.mp4", "it's \"the\" clip.mp4", Expect::Plays},
    {"HashAmpersandSubshell", "numbered.mp4", "#1 & $(x) `y`.mp4", Expect::Plays},
    {"NonAscii", "numbered.mp4", "Sprung über Hürde – 跳.mp4", Expect::Plays},
    {"NonUtf8Bytes", "numbered.mp4", "Sprung \xfc\xe4\xff.mp4", Expect::Plays},
    {"Dash", "numbered.mp4", "-", Expect::Plays},
    {"AudioOnly", "tone.m4a", "tone.m4a", Expect::Plays},
    {"Tiny16x16", "tiny16.mp4", "tiny16.mp4", Expect::Plays},
    {"Odd1917x1013", "odd-1917x1013.mp4", "odd.mp4", Expect::Plays},
    {"OneFps", "slow-1fps.mp4", "slow.mp4", Expect::Plays},
    {"Rotated", "rotated-90.mp4", "rotated.mp4", Expect::Plays},
    // Other protocols are refused; a stream nobody sends and a camera that is not there say so.
    {"OtherProtocol", nullptr, "lavfi://testsrc", Expect::Message},
    {"NoStreamThere", nullptr, "http://127.0.0.1:9/live.ts", Expect::Message},
    {"NoCameraThere", nullptr, "/dev/video63", Expect::Message},
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class BadFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(BadFile, PlaysOrSaysWhyAndStaysUsable) {
    const FileCase& c = GetParam();
    Session s(c.name);
    const std::string argument = argumentFor(c, s.root());
    ASSERT_NO_FATAL_FAILURE(s.start(argument));
    if (c.expect == Expect::Plays) {
        EXPECT_TRUE(pollUntil([&] { return s.caption().rfind(kTitle + " - ", 0) == 0 || s.box(); }, kWaitMs));
        ASSERT_EQ(s.box(), 0u) << s.log();
        // The caption names the file (shown in UTF-8 whatever its bytes).
        const std::string shown = s.caption().substr(std::min(s.caption().size(), kTitle.size() + 3));
        const std::string name = fs::path(argument).filename().string();
        EXPECT_EQ(QString::fromUtf8(fs::path(shown).filename().string().c_str()), QString::fromUtf8(name.c_str()))
            << "caption: " << s.caption();
    } else {
        ASSERT_NO_FATAL_FAILURE(s.dismissBoxes(kWaitMs));
        ASSERT_EQ(s.boxes().size(), 1u) << s.log();
        // The player's description of the failure, then the path as given.
        const std::string& text = s.boxes().front();
        EXPECT_EQ(text.rfind(kTitle + ": ", 0), 0u) << text;
        EXPECT_NE(text.find("\r\n" + argument), std::string::npos) << text;
        EXPECT_GT(text.find("\r\n"), kTitle.size() + 2) << "no description: " << text;
        EXPECT_EQ(s.caption(), kTitle + " 1.0.0");
    }
    ASSERT_TRUE(s.running());
    useAndExit(s);
}

INSTANTIATE_TEST_SUITE_P(Start, BadFile, ::testing::ValuesIn(kFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora

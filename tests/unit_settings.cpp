#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "app/frm_main.h"
#include "settings/config_store.h"
#include "settings/ini_file.h"
#include "base/errors.h"
#include "support/fakes.h"
#include "support/files.h"
#include "base/virtual_clock.h"

using namespace std::string_literals;
namespace fs = std::filesystem;

namespace velmora {
namespace {

using testing::readAll;
using testing::writeAll;

// Sets (or unsets, for nullptr) an environment variable for one test.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvGuard() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ConfigStoreTest : public ::testing::Test {
protected:
    testing::TempDir tmp{"settings"};
    const fs::path dir = tmp.path;
    testing::FakeDesktop desktop;
};

// ---------------------------------------------------------------- IniFile

TEST(IniFileTest, MatchesNamesIgnoringCaseAndBlanksAndSetsInPlaceOrAppends) {
    const std::string text =
        "top=1\n[ Video ]\n  Width  =  640  \nwidth=999\n;Height=1\n# Depth=2\n"
        "Title=\"  spaced  \"\nEmpty=\n[Audio]\nVolume=80\n[video]\nExtra=1\n";
    const IniFile ini(text);
    EXPECT_EQ(ini.get("video", "WIDTH"), "640");
    EXPECT_EQ(ini.get("VIDEO", " Title "), "  spaced  ");
    EXPECT_EQ(ini.get("Video", "Empty"), "");
    EXPECT_EQ(ini.get("Video", "Height"), std::nullopt);  // commented out
    EXPECT_EQ(ini.get("Video", "Depth"), std::nullopt);
    EXPECT_EQ(ini.get("Video", "Volume"), std::nullopt);  // another section
    EXPECT_EQ(ini.get("Video", "Extra"), std::nullopt);   // only the first [Video] counts
    EXPECT_EQ(ini.get("Video", "top"), std::nullopt);     // before any section
    EXPECT_EQ(ini.text(), text);
    // (Line ends, kept and given to new lines: the settings fuzzer.)

    // A set replaces in place or appends.
    IniFile edited("; head\n[A]\n  Width  =  640  \nx=1\n; about B\n\n[B]\ny=2\n\n[C]\n; c\n");
    edited.set("a", "WIDTH", "1280");  // the file's spelling and spacing stay
    edited.set("A", "z", "3");         // after the last key, before the comment
    edited.set("b", "w", "4");         // before the trailing blank line
    edited.set("C", "k", "v");         // a section without keys
    EXPECT_EQ(edited.text(),
              "; head\n[A]\n  Width  =  1280\nx=1\nz=3\n; about B\n\n[B]\ny=2\nw=4\n\n"
              "[C]\nk=v\n; c\n");

    IniFile noNewline("[A]\nx=1");
    noNewline.set("New", "k", "v");
    EXPECT_EQ(noNewline.text(), "[A]\nx=1\n\n[New]\nk=v\n");
    IniFile empty("");
    empty.set("New", "k", "v");
    EXPECT_EQ(empty.text(), "[New]\nk=v\n");
}

// ---------------------------------------------------------------- ConfigStore

TEST_F(ConfigStoreTest, ReadsAndWritesValues) {
    ConfigStore store((dir / "Velmora.ini").string(), desktop);
    EXPECT_EQ(store.GetConfigValue("Width"), "");  // no file yet

    store.SetConfigValue("Width", "640");
    EXPECT_EQ(readAll(dir / "Velmora.ini"), "[Velmora]\nWidth=640\n");
    EXPECT_EQ(store.GetConfigValue("width"), "640");
    store.SetConfigValue("Empty", "");
    EXPECT_EQ(store.GetConfigValue("Empty"), "");
    EXPECT_EQ(store.GetConfigValue("Missing"), "");
    EXPECT_EQ(tmp.names(), std::vector<std::string>{"Velmora.ini"});  // no temp file left

    writeAll(dir / "Velmora.ini", "[Velmora]\nMarker=DUMMY_REGISTRY_VALUE\nLower=dummy_registry_value\n"
                              "Long=" + std::string(999, 'a') + "b\nCut=" + std::string(998, 'a') +
                              "\xC3\xA9\nNul=ab\0cd\n"s +
                              "MarkerNul=DUMMY_REGISTRY_VALUE\0x\n"s);
    EXPECT_EQ(store.GetConfigValue("Marker"), "");
    EXPECT_EQ(store.GetConfigValue("Lower"), "dummy_registry_value");
    EXPECT_EQ(store.GetConfigValue("Long"), std::string(999, 'a'));
    EXPECT_EQ(store.GetConfigValue("Cut"), std::string(998, 'a'));  // not half of the "\u00e9"
    EXPECT_EQ(store.GetConfigValue("Nul"), "ab");
    EXPECT_EQ(store.GetConfigValue("MarkerNul"), "");
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ConfigStoreTest, FailedWriteKeepsTheOldFileAndSaysWhy) {
    const std::string path = (dir / "Velmora.ini").string();
    const std::string old = "[Velmora]\nWidth=640\n; " + std::string(100, 'c') + "\n";
    writeAll(path, old);
    ConfigStore store(path, desktop);

    // The disk refuses the new file's bytes (a file size limit works for root too).
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    store.SetConfigValue("Width", "1280");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text,
              "SetConfigValue: Cannot write the settings file " + path + ": File too large");
    EXPECT_EQ(desktop.boxes[0].caption, "Velmora");
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(tmp.names(), std::vector<std::string>{"Velmora.ini"});
}

// At exit a box would hold the program up (after SIGTERM too, behind it):
// a failure is told on standard error instead.
TEST_F(ConfigStoreTest, AFailureAtExitIsToldOnStandardErrorNotInABox) {
    fs::create_directory(dir / "Velmora.ini");  // cannot be read, so it is never written over
    ConfigStore store((dir / "Velmora.ini").string(), desktop);
    VirtualClock clock;
    testing::FakePlayer player;
    player.openable["/v/clip.avi"] = {};
    testing::FakeClientArea area;
    FrmMain frm(clock, desktop, player, store, area);
    frm.Form_Load("/v/clip.avi");  // no StartCount to write
    ::testing::internal::CaptureStderr();
    frm.Form_Unload();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes[0].text;
    EXPECT_EQ(said, "Velmora: SetConfigValue: Cannot read the settings file " + (dir / "Velmora.ini").string() +
                        ": Is a directory\n");
    EXPECT_TRUE(fs::is_directory(dir / "Velmora.ini"));
}

// A missing folder, a link and a pipe where the file should be (a folder:
// see the failure at exit above).
TEST_F(ConfigStoreTest, PathsThatAreNotPlainFiles) {
    ConfigStore underMissing((dir / "missing" / "Velmora.ini").string(), desktop);
    underMissing.SetConfigValue("k", "v");
    EXPECT_FALSE(fs::exists(dir / "missing"));  // only the XDG folder is created
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "SetConfigValue: Cannot write the settings file " +
                                          (dir / "missing" / "Velmora.ini").string() +
                                          ": No such file or directory");

    // A linked file is written through, the link stays.
    fs::create_directory(dir / "dotfiles");
    writeAll(dir / "dotfiles" / "Velmora.ini", "[Velmora]\nzoom=3\n");
    fs::create_symlink("dotfiles/Velmora.ini", dir / "linked.ini");
    ConfigStore linked((dir / "linked.ini").string(), desktop);
    linked.SetConfigValue("zoom", "2");
    EXPECT_TRUE(fs::is_symlink(dir / "linked.ini"));
    EXPECT_EQ(readAll(dir / "dotfiles" / "Velmora.ini"), "[Velmora]\nzoom=2\n");
    EXPECT_EQ(linked.GetConfigValue("zoom"), "2");

    ASSERT_EQ(::mkfifo((dir / "pipe.ini").c_str(), 0600), 0);
    ConfigStore pipe((dir / "pipe.ini").string(), desktop);
    EXPECT_EQ(pipe.GetConfigValue("zoom"), "");  // would block forever on a plain open
    pipe.SetConfigValue("zoom", "2");
    EXPECT_EQ(fs::status(dir / "pipe.ini").type(), fs::file_type::fifo);
    ASSERT_EQ(desktop.boxes.size(), 2u);
    EXPECT_EQ(desktop.boxes[1].text.rfind("SetConfigValue: Cannot read the settings file ", 0), 0u);
}

// ---------------------------------------------------------------- where settings live

TEST_F(ConfigStoreTest, BesideTheProgramWhenThereOrWritableElseXdg) {
    EnvGuard home("HOME", dir.c_str());
    {
        EnvGuard unset("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(ConfigStore::resolvePath("/nonexistent"), (dir / ".config/Velmora/Velmora.ini").string());
        EnvGuard relative("XDG_CONFIG_HOME", "relative/dir");  // not absolute: ignored
        EXPECT_EQ(ConfigStore::resolvePath("/nonexistent"), (dir / ".config/Velmora/Velmora.ini").string());
    }
    EnvGuard xdg("XDG_CONFIG_HOME", (dir / "xdg").c_str());
    const std::string xdgIni = (dir / "xdg" / "Velmora" / "Velmora.ini").string();
    EXPECT_EQ(ConfigStore::resolvePath(dir.string()), (dir / "Velmora.ini").string());
    EXPECT_EQ(ConfigStore::resolvePath((dir / "nowhere").string()), xdgIni);

    // The XDG folder is created on the first write, parents included.
    ConfigStore store(xdgIni, desktop);
    store.SetConfigValue("Width", "640");
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(readAll(xdgIni), "[Velmora]\nWidth=640\n");
}

// A settings file provisioned read-only is read; what changes goes to the
// user's copy in the XDG folder, which starts as the whole file.
TEST_F(ConfigStoreTest, AReadOnlyFileIsReadAndItsCopyTakesTheWrites) {
    EnvGuard xdg("XDG_CONFIG_HOME", (dir / "xdg").c_str());
    const fs::path program = dir / "program";
    fs::create_directory(program);
    const std::string provisioned = "; by the admin\n[Velmora]\nStartCount=4\nzoom=2\n";
    writeAll(program / "Velmora.ini", provisioned);
    fs::permissions(program / "Velmora.ini", fs::perms::owner_read | fs::perms::group_read);
    const std::string path = ConfigStore::resolvePath(program.string());
    ASSERT_EQ(path, (program / "Velmora.ini").string());
    const fs::path copy = dir / "xdg" / "Velmora" / "Velmora.ini";
    {
        ConfigStore store(path, desktop);
        EXPECT_EQ(store.GetConfigValue("StartCount"), "4");
        store.SetConfigValue("StartCount", "5");
        EXPECT_EQ(store.GetConfigValue("StartCount"), "5");
        EXPECT_EQ(store.GetConfigValue("zoom"), "2");
    }
    EXPECT_EQ(readAll(program / "Velmora.ini"), provisioned);
    EXPECT_EQ(readAll(copy), "; by the admin\n[Velmora]\nStartCount=5\nzoom=2\n");
    // The next start continues from the copy.
    ConfigStore next(path, desktop);
    EXPECT_EQ(next.GetConfigValue("StartCount"), "5");
    EXPECT_TRUE(desktop.boxes.empty());

    // When the copy cannot be made either, that is said once, not per write.
    fs::remove_all(dir / "xdg");
    writeAll(dir / "xdg", "a file where the folder should be");
    ConfigStore stuck(path, desktop);
    for (const char* key : {"width", "height", "zoom"}) stuck.SetConfigValue(key, "1");
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text.rfind("SetConfigValue: Cannot create the settings folder ", 0), 0u);
    EXPECT_EQ(readAll(program / "Velmora.ini"), provisioned);
}

// A file of 100 000 lines of other keys, read and written as at a start and
// an exit: every other line stays in its place.  Beside it in a read-only
// folder (root writes into any folder), the writes go to the user's copy.
TEST_F(ConfigStoreTest, AHugeFileKeepsItsLinesAndAReadOnlyFolderGivesACopy) {
    const testing::TempDir home("xdg");
    EnvGuard xdg("XDG_CONFIG_HOME", home.path.c_str());
    std::string many;
    for (int i = 0; i < 100000; ++i) many += "line" + std::to_string(i) + "=value " + std::to_string(i) + "\n";
    const std::string path = (dir / "Velmora.ini").string();
    writeAll(path, "[Velmora]\nStartCount=20\nMyKey=mine\n\n[Other]\n" + many + "\n[Later]\nkeep=too\n");
    {
        ConfigStore store(path, desktop);
        for (const char* key : {"StartCount", "width", "height", "zoom", "FrameTime"}) store.GetConfigValue(key);
        for (const char* key : {"StartCount", "width", "height", "zoom"}) store.SetConfigValue(key, "21");
    }
    const std::string written = readAll(path);
    EXPECT_TRUE(written == "[Velmora]\nStartCount=21\nMyKey=mine\nwidth=21\nheight=21\nzoom=21\n\n[Other]\n" + many +
                               "\n[Later]\nkeep=too\n");
    if (::geteuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        ConfigStore(path, desktop).SetConfigValue("zoom", "2");
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_TRUE(readAll(path) == written);
        EXPECT_NE(readAll(home.path / "Velmora" / "Velmora.ini").find("\nzoom=2\n"), std::string::npos);
    }
    EXPECT_TRUE(desktop.boxes.empty());
}

}  // namespace
}  // namespace velmora

// Opening a video and play control, on the virtual clock with a scripted player.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/harness.h"

namespace velmora::testing {
namespace {

TEST(Open, CommandLineQuotesAreRemovedAndTheVideoPlays) {
    Harness h;
    h.player.openable["/home/me/my clips/run 1.mp4"] = {320, 310};
    h.load("\"/home/me/my clips/run 1.mp4\"");
    EXPECT_EQ(h.player.calls.front(), "open:/home/me/my clips/run 1.mp4");
    EXPECT_EQ(h.frm.caption(), "Velmora - /home/me/my clips/run 1.mp4");
    EXPECT_EQ(h.view.windowCaption, h.frm.caption());
    EXPECT_EQ(h.frm.cmdPlay.value(), 1);
    EXPECT_TRUE(h.frm.cmdPlay.enabled());
    EXPECT_TRUE(h.frm.cmdReview.enabled());
    EXPECT_EQ(h.frm.cmdPlay.toolTip(), "");  // no tool tips while playing
}

TEST(Open, AFailedOpenReportsAndTouchesNothingElse) {
    Playing h;
    const double w = h.frm.oMediaPlayer.width();
    h.frm.OpenMedia("\"/a/b.mp4\" \"/c/d.mp4\"");  // two paths are one path
    EXPECT_EQ(h.player.calls.back(), "open:/a/b.mp4 /c/d.mp4");
    ASSERT_EQ(h.desktop.boxes.size(), 1u);
    EXPECT_EQ(h.desktop.boxes[0].text,
              "The file could not be opened: unrecognized file format.\r\n\"/a/b.mp4\" \"/c/d.mp4\"");
    EXPECT_EQ(h.desktop.boxes[0].caption, "Velmora");
    EXPECT_EQ(h.frm.caption(), "Velmora 1.0.0");
    EXPECT_EQ(h.frm.oMediaPlayer.width(), w);
    EXPECT_TRUE(h.frm.mnuZoom100.checked());
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);  // the player reported no media
    EXPECT_FALSE(h.frm.cmdPlay.enabled());

    // A cancelled file dialog: the video paused before the dialog is left paused.
    Playing cancelled;
    cancelled.frm.mnuFileOpen_Click();
    ASSERT_EQ(cancelled.desktop.fileDialogs.size(), 1u);
    EXPECT_EQ(cancelled.player.count("open:/videos/clip.avi"), 1);
    EXPECT_EQ(cancelled.player.state, play_state::kPaused);
}

// Names that the player could read as standard input or a URL open as the
// files they name, and a request that arrives while a file is still opening
// runs after it.
TEST(Open, NamesAreFilesAndAnOpenWaitsForTheOneInProgress) {
    Harness h;
    h.load();
    const std::string cwd = std::filesystem::current_path().string();
    h.frm.OpenMedia("-");
    EXPECT_EQ(h.player.calls.back(), "open:" + cwd + "/-");
    h.frm.Form_OLEDragDrop({"clips/a://b.mp4"});
    EXPECT_EQ(h.player.calls.back(), "open:" + cwd + "/clips/a://b.mp4");
    ASSERT_EQ(h.desktop.boxes.size(), 2u);
    EXPECT_EQ(h.desktop.boxes[0].text, "The file could not be opened: unrecognized file format.\r\n-");

    h.player.openable["/v/first.mp4"] = {100, 170};
    h.player.openable["/v/second.mp4"] = {200, 170};
    std::vector<std::string> captionsMeanwhile;
    h.player.whileOpening = [&](const std::string& path) {
        if (path != "/v/first.mp4") return;
        h.frm.Form_OLEDragDrop({"/v/second.mp4"});
        captionsMeanwhile.push_back(h.frm.caption());
    };
    h.frm.OpenMedia("/v/first.mp4");
    EXPECT_EQ(captionsMeanwhile, std::vector<std::string>{"Velmora 1.0.0"});  // as it was before
    EXPECT_EQ(h.player.count("open:/v/second.mp4"), 1);
    EXPECT_EQ(h.player.fileName(), "/v/second.mp4");
    EXPECT_EQ(h.frm.caption(), "Velmora - /v/second.mp4");
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 200);
    EXPECT_EQ(h.desktop.boxes.size(), 2u);  // nothing refused, nothing reported
}

TEST(Play, F7TogglesTheButtonAndTheEndOfTheFileReleasesIt) {
    Playing h;
    h.frm.mnuViewPlay_Click();
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);
    EXPECT_NE(h.frm.cmdPlay.toolTip(), "");
    h.frm.mnuViewPlay_Click();
    EXPECT_EQ(h.player.state, play_state::kPlaying);
    EXPECT_EQ(h.frm.cmdPlay.value(), 1);

    const auto calls = h.player.calls.size();
    h.frm.setPlayButton(1);  // already down: nothing happens
    EXPECT_EQ(h.player.calls.size(), calls);

    // Stopped at the end: the button comes up and captures stop.
    h.player.changeState(play_state::kStopped);
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);
    const long pos = h.frm.mlCapturePos;
    h.clock.advance(1000);
    EXPECT_EQ(h.frm.mlCapturePos, pos);
}

TEST(Play, BackNeedsTenSecondsAndAsksForMinusTenThenPlusTwo) {
    Playing h(300);
    h.frm.mnuViewPrev_Click();  // reviewing, video paused
    ASSERT_FALSE(h.frm.oMediaPlayer.visible());
    h.player.position = 9.9;
    h.frm.mnuToolsBack_Click();
    EXPECT_TRUE(h.player.seeks.empty());
    EXPECT_FALSE(h.frm.oMediaPlayer.visible());  // not even the return to the live video

    h.player.position = 10;
    h.frm.Form_KeyUp(key::F4, 0);
    EXPECT_EQ(h.player.seeks, (std::vector<double>{0, 2}));
    EXPECT_TRUE(h.frm.oMediaPlayer.visible());
    EXPECT_EQ(h.player.state, play_state::kPaused);  // still standing
}

struct SpeedCase {
    int value;
    const char* label;
    int cycleMs;  // runs one interval, stands two or four
};

class Speed : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(Speed, SlowSpeedsRunOneIntervalAndStandTheRest) {
    Playing h;
    h.frm.SpeedScrollBar.setValue(GetParam().value);
    h.frm.SpeedScrollBar_Change();
    EXPECT_EQ(h.frm.lblSpeed.caption(), GetParam().label);
    EXPECT_TRUE(h.player.slow);
    const long start = h.frm.mlCapturePos;

    h.clock.advance(100);  // first tick: capture, then a hold with the button down
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.frm.cmdPlay.value(), 1);
    EXPECT_EQ(h.frm.mlCapturePos, start - 1);
    h.clock.advance(GetParam().cycleMs - 100 - 1);
    EXPECT_EQ(h.player.state, play_state::kPaused);
    h.clock.advance(1);
    EXPECT_EQ(h.player.state, play_state::kPlaying);
    h.clock.advance(GetParam().cycleMs * 3);
    EXPECT_EQ(h.frm.mlCapturePos, start - 4);  // one capture per cycle

    // A click on the pressed button during a hold releases it: nothing plays on.
    h.clock.advance(GetParam().cycleMs - 1);
    ASSERT_EQ(h.player.state, play_state::kPaused);
    h.frm.setPlayButton(0);
    h.clock.advance(2000);
    EXPECT_EQ(h.player.state, play_state::kPaused);
}

INSTANTIATE_TEST_SUITE_P(Play, Speed,
                         ::testing::Values(SpeedCase{1, "Speed: slow", 300}, SpeedCase{2, "Speed: very slow", 500}));

TEST(Play, ASpeedChangeWhilePausedChangesOnlyLabelIntervalAndFlag) {
    Playing h;
    h.frm.mnuViewPlay_Click();
    const auto calls = h.player.calls.size();
    h.frm.SpeedScrollBar.setValue(2);
    h.frm.SpeedScrollBar_Scroll();
    EXPECT_EQ(h.frm.lblSpeed.caption(), "Speed: very slow");
    EXPECT_EQ(h.frm.PauseTimer.interval(), 400);
    ASSERT_EQ(h.player.calls.size(), calls + 1);
    EXPECT_EQ(h.player.calls.back(), "slow:1");
    h.clock.advance(2000);
    EXPECT_EQ(h.player.state, play_state::kPaused);
    h.frm.SpeedScrollBar.setValue(0);
    h.frm.SpeedScrollBar_Change();
    EXPECT_EQ(h.frm.PauseTimer.interval(), 0);
    EXPECT_EQ(h.player.calls.back(), "slow:0");
}

TEST(Play, AnErrorReleasesThePlayButtonAndIsCollected) {
    Playing h;
    h.player.throwOnPlayState = true;
    h.frm.mnuToolsCopy_Click();  // works without the player
    h.frm.cmdReview_MouseDown(mouse::Left, 0, 0, 0);
    h.player.throwOnPlayState = false;
    // Releasing the button inside the report fails too and is reported first.
    ASSERT_EQ(h.desktop.boxes.size(), 2u);
    EXPECT_EQ(h.desktop.boxes[0].text.rfind("cmdPlay_Click: Automation error, line ", 0), 0u);
    EXPECT_EQ(h.desktop.boxes[1].text.rfind("cmdReview_MouseDown: Automation error, line ", 0), 0u);
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);
    EXPECT_NE(h.frm.msErrorMessages.find("cmdReview_MouseDown: "), std::string::npos);
}

}  // namespace
}  // namespace velmora::testing

// How failures reach the user: the error dialog, the bug report, the error
// patterns of the procedures; the options dialog; mail to the author.
#include <gtest/gtest.h>

#include <functional>

#include "support/harness.h"

namespace velmora::testing {
namespace {

const std::string kAuthorLink = "mailto:velmora-bugs@velmora.org?";

int lineOf(const std::string& message) {
    const auto at = message.rfind(", line ");
    return at == std::string::npos ? -1 : std::stoi(message.substr(at + 7));
}

TEST(ErrorReport, TwoErrorsAreListedInOrderWithTheirOwnLinesAndSentAsOneReport) {
    Harness h;
    h.load();
    // The doubled width overflows in two procedures, through the same checked product.
    h.frm.mlPlayerWidth = 1'500'000'000;
    h.frm.mnuZoom200_Click();
    h.frm.Form_Resize();

    ASSERT_EQ(h.desktop.boxes.size(), 2u);
    const std::string first = h.desktop.boxes[0].text, second = h.desktop.boxes[1].text;
    EXPECT_EQ(first.rfind("mnuZoom200_Click: Overflow, line ", 0), 0u) << first;
    EXPECT_EQ(second.rfind("Form_Resize: Overflow, line ", 0), 0u) << second;
    // Each names its own failing statement, not the shared product.
    EXPECT_GT(lineOf(first), 0);
    EXPECT_GT(lineOf(second), 0);
    EXPECT_NE(lineOf(first), lineOf(second));
    EXPECT_EQ(h.desktop.boxes[1].caption, "Velmora error description");
    EXPECT_EQ(h.frm.frmError.txtError, second);  // the dialog shows the latest only
    EXPECT_EQ(h.frm.msErrorMessages, first + "\r\n" + second + "\r\n");

    ASSERT_TRUE(h.frm.frmError.loaded());
    h.frm.frmError.cmdEmail_Click();
    EXPECT_FALSE(h.frm.frmError.loaded());
    ASSERT_EQ(h.desktop.opened.size(), 1u);
    EXPECT_EQ(h.desktop.opened[0], kAuthorLink + "&Subject=Velmora v1.0.0&Body=" +
                                       "Please write your message above this line.%0D%0A%0D%0A" +
                                       "Velmora v1.0.0 error descriptions:%0D%0A" + first + "%0D%0A" +
                                       second + "%0D%0A%0D%0A");
}

TEST(ErrorReport, ReportingPausesOnlyWhatPlays) {
    Harness h;
    h.loadPlaying();
    ASSERT_EQ(h.frm.cmdPlay.value(), 1);
    std::string message = "OpenMedia: Something failed";
    h.frm.ShowError(message, 0);
    EXPECT_EQ(message, "OpenMedia: Something failed, line 0");  // extended in place
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);
    EXPECT_EQ(h.player.count("pause"), 1);
    EXPECT_FALSE(h.frm.PlayTimer.enabled());
    h.frm.frmError.OKButton_Click();
    EXPECT_FALSE(h.frm.frmError.loaded());
    // Paused, the next report leaves playback alone.
    const auto calls = h.player.calls;
    h.frm.ShowError(message, 0);
    EXPECT_EQ(h.player.calls, calls);
    // A failing hand-over still closes the dialog and reports nothing.
    h.desktop.failOpenExternal = true;
    h.frm.frmError.cmdEmail_Click();
    EXPECT_FALSE(h.frm.frmError.loaded());
    EXPECT_EQ(h.desktop.boxes.size(), 2u);
}

// One failure injected into each procedure that reports through the error
// dialog: the report carries the procedure's own prefix and a line.
TEST(ErrorPatterns, EveryReportingProcedureUsesItsOwnPrefix) {
    const auto throwOn = [](Harness& h, Ctl id, Prop prop) {
        h.view.onChange = [id, prop](const Control& c, Prop p) {
            if (c.id() == id && p == prop) RAISE_ERROR("Invalid property value");
        };
    };
    struct Row {
        const char* prefix;
        std::function<void(Harness&)> act;
    };
    const std::vector<Row> rows = {
        {"ShowImage: ", [&](Harness& h) { throwOn(h, Ctl::lblReviewTime, Prop::Caption), h.frm.ShowImage(1); }},
        {"Form_KeyDown: ", [](Harness& h) { h.frm.cmdReview.setEnabled(false), h.frm.Form_KeyDown(key::F5, 0); }},
        {"cmdReview_MouseDown: ",
         [&](Harness& h) { throwOn(h, Ctl::cmdReview, Prop::Value), h.frm.cmdReview_MouseDown(mouse::Left, 0, 0, 0); }},
        {"ProcessReview: ",
         [](Harness& h) {
             h.player.changeState(play_state::kPaused);  // releases the play button
             h.player.state = play_state::kPlaying;      // plays again, unannounced; pausing fails
             h.player.failing = {"pause"};
             h.frm.mlReviewDirection = 1;
             h.frm.ProcessReview();
         }},
        {"cmdPlay_Click: ", [](Harness& h) { h.player.failing = {"pause"}, h.frm.setPlayButton(0); }},
        {"Form_Load: ", [](Harness& h) { h.settings.values["StartCount"] = "32767", h.load(); }},
        {"Form_OLEDragDrop: ", [](Harness& h) { h.frm.Form_OLEDragDrop({}); }},
        {"Form_Resize: ",
         [](Harness& h) {
             h.frm.mnuZoom100.setChecked(false), h.frm.mnuZoom200.setChecked(true);
             h.frm.mlPlayerWidth = 1'500'000'000;
             h.frm.Form_Resize();
         }},
        {"SetSnapshotRegion: ",
         [](Harness& h) {
             h.frm.availableMemory = [] { return std::uint64_t{0}; };
             h.frm.oMediaPlayer.setWidth(400);
             h.frm.SetSnapshotRegion();
         }},
        {"mnuToolsCopy_Click: ", [](Harness& h) { h.desktop.failClipboard = true, h.frm.mnuToolsCopy_Click(); }},
        {"mnuToolsBack_Click: ",
         [](Harness& h) { h.player.position = 30, h.player.failing = {"seek"}, h.frm.mnuToolsBack_Click(); }},
        {"mnuToolsOptions_Click: ",
         [](Harness& h) {
             h.desktop.whileModal = [](ModalWindow w) {
                 if (w == ModalWindow::Options) RAISE_ERROR("Out of memory");
             };
             h.frm.mnuToolsOptions_Click();
         }},
        {"LoadSettings: ", [](Harness& h) { h.settings.values["width"] = "abc", h.frm.LoadSettings(); }},
        {"mnuZoom200_Click: ", [](Harness& h) { h.frm.clientResized(592, 0), h.frm.mnuZoom200_Click(); }},
        {"mnuZoom100_Click: ", [](Harness& h) { h.frm.clientResized(592, 0), h.frm.mnuZoom100_Click(); }},
        {"OpenMedia: ", [](Harness& h) { h.player.failing = {"open"}, h.frm.OpenMedia("/videos/clip.avi"); }},
        {"oMediaPlayer_PlayStateChange: ",
         [&](Harness& h) { throwOn(h, Ctl::cmdPlay, Prop::Value), h.player.changeState(play_state::kStopped); }},
        {"CaptureImage: ", [](Harness& h) { h.frm.mlCapturePos = 0, h.frm.CaptureImage(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.prefix);
        Harness h;
        if (std::string(row.prefix) != "Form_Load: ") h.loadPlaying();
        row.act(h);
        ASSERT_EQ(h.desktop.boxes.size(), 1u);
        const std::string& text = h.desktop.boxes[0].text;
        EXPECT_EQ(text.rfind(row.prefix, 0), 0u) << text;
        EXPECT_GT(lineOf(text), 0) << text;
        EXPECT_EQ(h.desktop.boxes[0].caption, "Velmora error description");
        EXPECT_EQ(h.frm.cmdPlay.value(), 0);
        EXPECT_EQ(h.frm.msErrorMessages, text + "\r\n");
    }
}

TEST(ErrorPatterns, OthersEndSilentlyContinueOrUseAPlainBox) {
    Harness h;
    h.loadPlaying();
    // The open-file dialog fails: the command ends without a word.
    h.desktop.failFileDialog = true;
    h.frm.mnuFileOpen_Click();
    // A failing hand-over of the mail link is skipped silently.
    h.desktop.failOpenExternal = true;
    h.frm.mnuHelpEmail_Click();
    // The capture tick goes on past a failing pause: the timer stops, the frame is taken.
    h.player.failing = {"pause"};
    h.frm.mbPauseAfterCapture = true;
    const long pos = h.frm.mlCapturePos;
    h.frm.PlayTimer_Timer();
    EXPECT_FALSE(h.frm.PlayTimer.enabled());
    EXPECT_EQ(h.frm.mlCapturePos, pos - 1);
    h.player.failing.clear();
    EXPECT_TRUE(h.desktop.boxes.empty());
    EXPECT_TRUE(h.frm.msErrorMessages.empty());

    // The options dialog reports in a plain box captioned with the title.
    h.settings.values["FrameTime"] = "abc";
    h.frm.frmOptions.unload();
    EXPECT_EQ(h.frm.GetFrameInterval(), 100);
    ASSERT_EQ(h.desktop.boxes.size(), 1u);
    EXPECT_EQ(h.desktop.boxes[0].text, "frmOptions: Type mismatch");
    EXPECT_EQ(h.desktop.boxes[0].caption, "Velmora");
    h.settings.values["FrameTime"] = "7";
    h.frm.frmOptions.unload();
    EXPECT_EQ(h.frm.GetFrameInterval(), 100);
    ASSERT_EQ(h.desktop.boxes.size(), 2u);
    EXPECT_EQ(h.desktop.boxes[1].text.rfind("frmOptions: ", 0), 0u);
    EXPECT_TRUE(h.frm.msErrorMessages.empty());
}

// The close box drops the change: the stored choice is selected again, the
// timers keep it, and the video the dialog paused stays paused.
TEST(Options, TheCloseBoxDropsTheChangeAndTheVideoStaysPaused) {
    Harness h;
    h.settings.values["FrameTime"] = "2";
    h.loadPlaying();
    h.settings.writes.clear();
    h.desktop.whileModal = [&](ModalWindow) {
        h.frm.frmOptions.selectOption(0);
        h.frm.frmOptions.unload();  // closed with the window's close box
    };
    h.frm.mnuToolsOptions_Click();
    EXPECT_TRUE(h.settings.writes.empty());
    EXPECT_EQ(h.frm.PlayTimer.interval(), 200);  // reloaded from the file
    EXPECT_EQ(h.frm.ReviewTimer.interval(), 200);
    EXPECT_EQ(h.frm.frmOptions.selectedIndex(), 2);
    h.clock.advance(2000);
    EXPECT_EQ(h.player.playState(), play_state::kPaused);
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);
}

TEST(Mail, EmailAuthorHasTheVersionAsSubjectAndAnEmptyBody) {
    Harness h;
    h.frm.mnuHelpEmail_Click();
    ASSERT_EQ(h.desktop.opened.size(), 1u);
    EXPECT_EQ(h.desktop.opened[0], kAuthorLink + "&Subject=Velmora v1.0.0&Body=");
}

}  // namespace
}  // namespace velmora::testing

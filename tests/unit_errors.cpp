// How failures reach the user: the error dialog, the bug report, the error
// patterns of the procedures; mail to the author.
#include <gtest/gtest.h>

#include "support/harness.h"

namespace velmora::testing {
namespace {

const std::string kAuthorLink = "mailto:velmora-bugs@velmora.org?";

int lineOf(const std::string& message) {
    const auto at = message.rfind(", line ");
    return at == std::string::npos ? -1 : std::stoi(message.substr(at + 7));
}

TEST(ErrorReport, TwoErrorsAreListedInOrderWithTheirOwnLines) {
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
    // Both go into the mailed report (whose text the dialog test reads back).
    EXPECT_EQ(h.frm.msErrorMessages, first + "\r\n" + second + "\r\n");
}

TEST(ErrorReport, ReportingPausesOnlyWhatPlays) {
    Playing h;
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

TEST(ErrorPatterns, OthersEndSilentlyContinueOrUseAPlainBox) {
    Playing h;
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

    // Mail to the author: the version as the subject, an empty body.
    h.desktop.failOpenExternal = false;
    h.frm.mnuHelpEmail_Click();
    EXPECT_EQ(h.desktop.opened.back(), kAuthorLink + "&Subject=Velmora v1.0.0&Body=");
}

}  // namespace
}  // namespace velmora::testing

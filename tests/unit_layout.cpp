// Sizing of the player and the zoom commands, with a window frame that has
// real borders and a menu bar (8 x 46 pixels at 96 dpi).
#include <gtest/gtest.h>

#include "support/harness.h"

namespace velmora::testing {
namespace {

TEST(Layout, ZoomCommandsSizeTheWindowThroughTheOuterToClientRatio) {
    Playing h;  // natural player size 320 x 310, zoom 100 %
    // Height: (36 + 310) * 8955 / 551 = 5623.3 twips = 375 px outer, 329 client.
    // Width:  (4 + 320) * 9000 / 592 = 4925.7 twips, raised to the 5000-twip minimum.
    EXPECT_EQ(h.frm.scaleHeight(), 329);
    EXPECT_EQ(h.frm.scaleWidth(), 325);
    EXPECT_DOUBLE_EQ(h.frm.width(), 4995);  // 333 px: 5000 twips snapped to whole pixels
    EXPECT_EQ(h.view.clientSizes.back(), std::make_pair(325, 329));
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 320);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 310);
    EXPECT_EQ(h.frm.lblHider.top(), 36 + 310 - 50);

    h.frm.mnuZoom200_Click();
    EXPECT_TRUE(h.frm.mnuZoom200.checked());
    EXPECT_FALSE(h.frm.mnuZoom100.checked());
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 640);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 580);  // 2 x 310 - 40
    // Width: (4 + 640) * 4995 / 325 = 9897.8 twips = 660 px; height: (36 + 620 - 74) * 5625 / 329.
    EXPECT_EQ(h.frm.scaleWidth(), 652);
    EXPECT_EQ(h.frm.scaleHeight(), 617);
    EXPECT_EQ(h.frm.lblHider.top(), 36 + 580 - 50);
    EXPECT_EQ(h.frm.oCaptured[1].width(), 640);
    EXPECT_EQ(h.frm.oCaptured[1].height(), 510);

    // The minimum width holds at 100 % only.
    h.player.openable["/v/narrow.mp4"] = {40, 100};
    h.frm.OpenMedia("/v/narrow.mp4");
    EXPECT_LT(h.frm.width(), 5000);
    h.frm.mnuZoom100_Click();
    EXPECT_GE(h.frm.width(), 4995);  // 5000 twips, to the pixel
}

TEST(Layout, FitFillsTheClientAreaAndNeverResizesTheWindow) {
    Harness h;
    h.load();
    h.frm.mnuZoomFit_Click();
    EXPECT_TRUE(h.view.clientSizes.empty());
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 588);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 515);
    h.frm.clientResized(700, 30);  // shorter than the player's top: the height stays
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 696);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 515);
    EXPECT_TRUE(h.view.clientSizes.empty());

    // A zoom in a window of no client height is reported; the check marks set
    // before the error stay, the width step came first and went through.
    h.frm.clientResized(592, 0);
    h.frm.mnuZoom200_Click();
    ASSERT_EQ(h.desktop.boxes.size(), 1u);
    EXPECT_EQ(h.desktop.boxes[0].text.rfind("mnuZoom200_Click: Division by zero, line ", 0), 0u);
    EXPECT_TRUE(h.frm.mnuZoom200.checked());
    EXPECT_EQ(h.frm.scaleHeight(), 0);
    EXPECT_EQ(h.view.clientSizes.size(), 1u);
}

// A screen whose windows hold at most 1900 x 1000 client pixels.
TEST(Layout, NoZoomAndNoStoredSizeMakeTheWindowLargerThanTheScreen) {
    Harness h;
    h.view.largestClient = {1900, 1000};
    h.settings.values["width"] = "60000";  // 4000 pixels, stored on a larger screen
    h.settings.values["height"] = "30000";
    h.player.openable["/v/4k.mp4"] = {3840, 2160 + 70};
    h.load();
    EXPECT_EQ(h.frm.scaleWidth(), 1900);
    EXPECT_EQ(h.frm.scaleHeight(), 1000);

    // 100 % and 200 % of 4K: the largest window, the player sized as by Fit.
    h.frm.OpenMedia("/v/4k.mp4");
    for (auto zoom : {&FrmMain::mnuZoom200_Click, &FrmMain::mnuZoom100_Click, &FrmMain::mnuZoom200_Click}) {
        (h.frm.*zoom)();
        for (const auto& [w, hh] : h.view.clientSizes) {
            EXPECT_LE(w, 1900);
            EXPECT_LE(hh, 1000);
        }
        EXPECT_EQ(h.frm.oMediaPlayer.width(), 1900 - 4);
        EXPECT_EQ(h.frm.oMediaPlayer.height(), 1000 - 36);
        EXPECT_EQ(h.frm.oCaptured[1].width(), 1896);
        EXPECT_EQ(h.frm.oCaptured[1].height(), 964 - 70);
    }
    EXPECT_TRUE(h.desktop.boxes.empty());

    // What fits is sized by the zoom again, and 100 % keeps the natural
    // size in a window the user made smaller.
    h.frm.OpenMedia("/videos/clip.avi");
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 640);
    h.frm.mnuZoom100_Click();
    h.frm.clientResized(100, 100);
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 320);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 310);

    // A window that the window manager keeps at a size of its own (a
    // tiling compositor's place) is laid out like Fit, in the size it got.
    h.view.kept = true;
    h.frm.clientResized(1276, 670);
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 1272);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 634);
    h.frm.mnuZoom200_Click();
    EXPECT_EQ(h.frm.oMediaPlayer.width(), h.frm.scaleWidth() - 4);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), h.frm.scaleHeight() - 36);
}

TEST(Layout, ZoomRestoresAMaximizedWindowAndSurvivesARestart) {
    Harness h;
    h.load("/videos/clip.avi");
    h.view.state = WindowState::Maximized;
    h.frm.mnuZoom200_Click();
    EXPECT_EQ(h.view.state, WindowState::Normal);
    h.frm.Form_Unload();

    Harness next;
    next.settings.values = h.settings.values;
    next.load("/videos/clip.avi");
    EXPECT_EQ(next.frm.oMediaPlayer.width(), 640);
    next.player.openable["/videos/other.mp4"] = {200, 170};
    next.frm.OpenMedia("/videos/other.mp4");  // the zoom in force follows the new video
    EXPECT_EQ(next.frm.oMediaPlayer.width(), 400);
    EXPECT_EQ(next.frm.oMediaPlayer.height(), 300);
    EXPECT_EQ(next.player.state, play_state::kPlaying);
}

TEST(Layout, AResizeDuringReviewShowsTheLiveVideo) {
    Playing h(300);
    h.frm.mnuViewPrev_Click();
    ASSERT_FALSE(h.frm.oMediaPlayer.visible());
    h.frm.clientResized(700, 600);
    EXPECT_TRUE(h.frm.oMediaPlayer.visible());
    h.expectDisplayConsistent();
    EXPECT_EQ(h.player.state, play_state::kPaused);
}

}  // namespace
}  // namespace velmora::testing

// Start-up and shut-down of the main window.
#include <gtest/gtest.h>

#include "support/harness.h"

namespace velmora::testing {
namespace {

// Starts without a video are counted, and below ten the About box introduces
// the program half a second after the start.
TEST(Lifecycle, StartsWithoutAVideoAreCountedAndIntroducedBelowTen) {
    struct Row {
        const char* stored;  // nullptr: missing
        const char* commandLine;
        const char* written;
        bool about;
    };
    for (const Row& r : {Row{nullptr, "", "1", true}, Row{"8", "", "9", true}, Row{"9", "", "10", false},
                         Row{"abc", "", "1", true}, Row{"2", "\"/videos/clip.avi\"", "2", false}}) {
        SCOPED_TRACE(std::string(r.stored ? r.stored : "(missing)") + " " + r.commandLine);
        Harness h;
        if (r.stored) h.settings.values["StartCount"] = r.stored;
        h.load(r.commandLine);
        EXPECT_EQ(h.settings.values["StartCount"], r.written);
        h.clock.advance(499);
        EXPECT_TRUE(h.desktop.modals.empty());
        h.clock.advance(5001);
        EXPECT_EQ(h.desktop.modals.size(), r.about ? 1u : 0u);
        EXPECT_TRUE(h.desktop.boxes.empty());
    }

    // A count that overflows is reported and skips the rest of the start.
    Harness h;
    h.settings.values["StartCount"] = "32767";
    h.load();
    ASSERT_EQ(h.desktop.boxes.size(), 1u);
    EXPECT_EQ(h.desktop.boxes[0].text.rfind("Form_Load: Overflow, line ", 0), 0u) << h.desktop.boxes[0].text;
    EXPECT_EQ(h.settings.values["StartCount"], "32767");
    h.clock.advance(1000);
    EXPECT_EQ(h.desktop.modals, std::vector{ModalWindow::Error});  // no About box
    EXPECT_EQ(h.frm.mlCapturePos, 50);  // the ring still has a valid write position
}

TEST(Lifecycle, StoredSizeIsAppliedAndBadSizeIsReported) {
    Harness h;
    h.settings.values["width"] = "";
    h.settings.values["height"] = "9000";  // twips: 600 px outer, 554 client with a 46 px frame
    h.load();
    EXPECT_EQ(h.frm.scaleWidth(), 592);
    EXPECT_EQ(h.frm.scaleHeight(), 554);
    EXPECT_TRUE(h.desktop.boxes.empty());

    Harness bad;
    bad.settings.values["width"] = "abc";
    bad.settings.values["zoom"] = "2";
    bad.load();
    ASSERT_FALSE(bad.desktop.boxes.empty());
    EXPECT_EQ(bad.desktop.boxes[0].text.rfind("LoadSettings: Type mismatch, line ", 0), 0u);
    EXPECT_FALSE(bad.frm.mnuZoom100.checked() || bad.frm.mnuZoom200.checked() || bad.frm.mnuZoomFit.checked());
    bad.frm.Form_Unload();
    EXPECT_EQ(bad.settings.values["zoom"], "0");
}

TEST(Lifecycle, UnloadStoresOuterSizeInTwipsAndZoom) {
    Harness h;
    h.settings.values["zoom"] = "3";
    h.load();
    h.frm.mnuFileExit_Click();
    EXPECT_TRUE(h.view.unloadRequested);  // the window closes and then unloads
    h.frm.Form_Unload();
    h.frm.Form_Unload();  // closing twice stores once
    EXPECT_EQ(h.settings.values["width"], "9000");   // (592 + 8) px * 15
    EXPECT_EQ(h.settings.values["height"], "8955");  // (551 + 46) px * 15
    EXPECT_EQ(h.settings.values["zoom"], "3");
    EXPECT_EQ(h.settings.writes.size(), 4u);  // StartCount at start, then width, height, zoom
    EXPECT_EQ(h.frm.capturedImage[1].pixels, nullptr);

    Harness hiDpi;
    hiDpi.view.dpi = 144;  // 10 twips per pixel
    hiDpi.load();
    hiDpi.frm.Form_Unload();
    EXPECT_EQ(hiDpi.settings.values["width"], "6000");
}

}  // namespace
}  // namespace velmora::testing

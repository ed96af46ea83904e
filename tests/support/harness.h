// A main window over fakes, on a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include "app/frm_main.h"
#include "support/fakes.h"
#include "base/virtual_clock.h"

namespace velmora::testing {

struct Harness {
    VirtualClock clock;
    FakePlayer player;
    FakeDesktop desktop;
    FakeSettings settings;
    FakeClientArea clientArea;
    FakeView view;
    FrmMain frm{clock, desktop, player, settings, clientArea};

    Harness() {
        frm.setView(&view);
        desktop.errorForm = &frm.frmError;
        player.openable["/videos/clip.avi"] = {320, 310};
    }

    // Starts the window with the settings as the test left them.
    void load(const std::string& commandLine = "") { frm.Form_Load(commandLine); }

    // Starts with a video that plays, and lets it play `ms` on the clock.
    void loadPlaying(std::int64_t ms = 0) {
        settings.values["StartCount"] = "20";
        load("/videos/clip.avi");
        if (ms > 0) clock.advance(ms);
    }

    // Visible slots, for the display invariant.
    int visibleSlots() const {
        int n = 0;
        for (std::size_t i = 1; i < frm.oCaptured.size(); ++i) n += frm.oCaptured[i].visible();
        return n;
    }

    // Checks that exactly the live player or exactly one slot with the time frame is shown.
    void expectDisplayConsistent() const {
        if (frm.oMediaPlayer.visible()) {
            EXPECT_EQ(visibleSlots(), 0);
            EXPECT_FALSE(frm.frReviewTime.visible());
        } else {
            EXPECT_EQ(visibleSlots(), 1);
            EXPECT_TRUE(frm.frReviewTime.visible());
        }
    }

    // The frame age after each of the waits on the clock, one after the other.
    std::vector<long> agesAfter(std::initializer_list<std::int64_t> waits) {
        std::vector<long> ages;
        for (const std::int64_t ms : waits) {
            clock.advance(ms);
            ages.push_back(frm.mlFrameAge);
        }
        return ages;
    }

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (auto& b : desktop.boxes) out.push_back(b.text);
        return out;
    }
};

// A harness on a video that has played `ms` on the clock.
struct Playing : Harness {
    explicit Playing(std::int64_t ms = 0) { loadPlaying(ms); }
};

}  // namespace velmora::testing

// The About box's animation and the Help menu.
#include <gtest/gtest.h>

#include <set>

#include "base/errors.h"
#include "support/files.h"
#include "support/frm_about.h"
#include "support/harness.h"

namespace velmora::testing {
namespace {

// The dialog as a record of the pictures loaded.
struct FakeAboutView : AboutView {
    std::set<std::string> missing;  // paths that fail to load
    std::vector<std::string> loaded;
    int changes = 0;

    void loadFramePicture(const std::string& path) override {
        if (missing.count(path)) RAISE_ERROR("File not found: " + path);
        loaded.push_back(path);
    }
    void aboutChanged() override { ++changes; }
    void unload() override {}
    void focusForm() override {}
};

struct AboutFixture : ::testing::Test {
    VirtualClock clock;
    FakeDesktop desktop;
    FakeAboutView view;
    FrmAbout about{clock, desktop, view, "/opt/velmora"};

    std::string gif(int n) const { return "/opt/velmora/" + std::to_string(n) + ".gif"; }

    // What the box shows: frame, button image, left icon, right icon.
    struct Shown {
        std::string frame;
        ReviewPicture image;
        bool left, right;
        bool operator==(const Shown&) const = default;
    };
    Shown shown() const {
        return {view.loaded.empty() ? "" : view.loaded.back(), about.buttonImage(), about.leftMouseVisible(),
                about.rightMouseVisible()};
    }
};

TEST_F(AboutFixture, AnimatesTheGestureInAnElevenSecondCycle) {
    about.Form_Load();
    EXPECT_EQ(about.disclaimer(), "Provided as is.");  // stored scrambled
    EXPECT_TRUE(desktop.boxes.empty());
    const Shown rest{gif(0), kReviewIdle, false, false};
    EXPECT_EQ(shown(), rest);

    // One step a second: a rest at frame 0, forward to 5 with the right
    // button, back to 0 with the left; then exactly one rest and forward again.
    std::vector<Shown> cycle, expected{rest};
    for (int tick = 0; tick < 13; ++tick) clock.advance(1000), cycle.push_back(shown());
    for (int n = 1; n <= 5; ++n) expected.push_back({gif(n), kReviewForward, false, true});
    for (int n = 4; n >= 0; --n) expected.push_back({gif(n), kReviewBack, true, false});
    expected.push_back(rest);
    expected.push_back({gif(1), kReviewForward, false, true});
    EXPECT_EQ(cycle, expected);
    EXPECT_TRUE(about.Timer1.enabled());
}

TEST_F(AboutFixture, AMissingPictureIsReportedAtLoadButStopsTheAnimationSilently) {
    for (int n = 0; n <= 5; ++n) view.missing.insert(gif(n));
    about.Form_Load();
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "frmAbout: File not found: " + gif(0));
    EXPECT_EQ(desktop.boxes[0].caption, "Velmora");
    EXPECT_EQ(about.caption(), "About Velmora 1.0.0");  // set before the picture
    clock.advance(1000);                                 // the rest tick fails on frame 0
    EXPECT_FALSE(about.Timer1.enabled());

    // Only 3.gif missing: the animation stops there, the tick's direction shown.
    view.missing = {gif(3)};
    FrmAbout second(clock, desktop, view, "/opt/velmora");
    second.Form_Load();
    clock.advance(4000);  // rest, 1, 2, 3
    EXPECT_FALSE(second.Timer1.enabled());
    EXPECT_EQ(view.loaded.back(), gif(2));
    EXPECT_EQ(second.buttonImage(), kReviewForward);
    EXPECT_TRUE(second.rightMouseVisible());
    clock.advance(10000);
    EXPECT_EQ(view.loaded.size(), 4u);  // 0 at load, 0 at rest, 1, 2
    EXPECT_EQ(desktop.boxes.size(), 1u);
}

TEST(HelpMenu, AboutPausesTheVideoAndAMissingFaqPageIsNotHandedOn) {
    Playing h;
    std::vector<std::string> order;
    h.desktop.whileModal = [&](ModalWindow w) {
        order.push_back(std::string(w == ModalWindow::About ? "about" : "other") + " after " + h.player.calls.back());
    };
    h.frm.mnuHelpAbout_Click();
    EXPECT_EQ(order, std::vector<std::string>{"about after pause"});

    // Opened before the introduction is due: the box is not shown a second time over itself.
    Harness fresh;
    fresh.load();
    fresh.desktop.whileModal = [&](ModalWindow) { fresh.clock.advance(1000); };
    fresh.frm.mnuHelpAbout_Click();
    EXPECT_EQ(fresh.desktop.modals, std::vector{ModalWindow::About});

    const TempDir folder("help test");
    h.frm.appPath = folder.path.string();
    h.frm.mnuHelpContent_Click();
    EXPECT_TRUE(h.desktop.opened.empty());  // no page: nothing at all
    EXPECT_TRUE(h.desktop.boxes.empty());
}

}  // namespace
}  // namespace velmora::testing

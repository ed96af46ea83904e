// The whole program in the test's process, built as the program builds itself,
// with nothing modal.  Every capture tick is recorded with the number on the
// screen just before and the one that landed in the ring; review is looked at
// as the user sees it: the visible slot widget, its painted number, the time.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLocale>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/frm_main.h"
#include "app/main_window.h"
#include "base/qt_timer_host.h"
#include "capture/qt_client_area.h"
#include "playback/mpv_control_strip.h"
#include "playback/mpv_player.h"
#include "support/fakes.h"
#include "support/frame_number.h"
#include "support/qt_desktop.h"

namespace velmora::testing {

// The real clipboard; a box or a window the program wants shown is recorded,
// so that a failure shows in the test's output instead of waiting for a click.
class RecordingDesktop : public DesktopPort {
public:
    std::vector<std::string> boxes;
    std::vector<ModalWindow> modals;

    void messageBox(const std::string& text, const std::string& caption) override {
        boxes.push_back(caption + ": " + text);
    }
    void showModal(ModalWindow window) override { modals.push_back(window); }
    std::optional<std::string> openFileDialog(const std::string&, const std::string&) override { return {}; }
    void openExternal(const std::string&) override {}
    void clipboardClear() override { qt_.clipboardClear(); }
    void clipboardSetImage(const FrameSlot& slot) override { qt_.clipboardSetImage(slot); }

private:
    QtDesktop qt_;
};

// A slot's pixels as an image, without a copy.
inline QImage pictureOf(const FrameSlot& slot) {
    if (!slot.pixels) return {};
    return QImage(reinterpret_cast<const uchar*>(slot.pixels.get()), slot.width, slot.height, slot.stride(),
                  QImage::Format_RGB32);
}

// One tick of the capture timer.
struct Capture {
    long slot;     // written
    int onScreen;  // the number shown just before; -1: no picture yet
    int stored;    // the number that landed in the slot
    bool opaque;  // every pixel of the slot (mpv's pictures leave alpha 0)
};

// One frame shown by review.
struct Shown {
    long age;
    std::vector<int> slotViews;  // the visible slot widgets
    int painted;                 // the number in the visible slot widget's picture
    std::string label, modelLabel;  // the review time shown, and as the procedures set it
};

class WholeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        player = std::make_unique<MpvPlayer>(nullptr, MpvOptions{"null"});
        MpvPlayer* p = player.get();
        settings.values["StartCount"] = "100";
        window = std::make_unique<MainWindow>(p);
        clientArea = std::make_unique<QtClientArea>(
            window->clientArea(), p, [p]() -> const QImage* { return &p->videoImage(); },
            [p] { return p->videoRect(); });
        frm = std::make_unique<FrmMain>(timers, desktop, *p, settings, *clientArea);
        frm->decimalSeparator = QLocale::system().decimalPoint().toStdString();
        window->bind(*frm);
        frm->PlayTimer.setHandler([this] {
            const long slot = frm->mlCapturePos;
            const int onScreen = onScreenNow();
            frm->PlayTimer_Timer();
            if (slot >= 1 && slot <= kRingSize && frm->mlCapturePos != slot) {  // a capture was taken
                const FrameSlot& s = frm->capturedImage[slot];
                const bool opaque = std::all_of(s.pixels.get(), s.pixels.get() + s.bytes() / sizeof(Pixel),
                                                [](Pixel p) { return p >> 24 == 0xff; });
                captures.push_back({slot, onScreen, frameNumber(pictureOf(s)), opaque});
            }
        });
    }

    // Opens the stream `url` from the command line, as the program started with it does.
    void openLive(const std::string& url) {
        frm->Form_Load(url);
        ASSERT_FALSE(frm->unloaded());
        window->show();
        ASSERT_EQ(player->playState(), play_state::kPlaying) << player->errorDescription();
        ASSERT_TRUE(player->live());
    }

    // The player's strip under the picture: "Playing    LIVE", "Paused    -8.3 s".
    std::string strip() const {
        return player->findChild<MpvControlStrip*>()->findChild<QLabel*>()->text().toStdString();
    }

    // The number of the picture the player shows, -1 without one.
    int onScreenNow() const {
        const QImage& picture = player->videoImage();
        return picture.isNull() ? -1 : frameNumber(picture, player->videoRect().topLeft());
    }

    SlotView* slotView(int index) const { return static_cast<SlotView*>(window->widgetOf(Ctl::oCaptured, index)); }

    std::vector<int> visibleSlots() const {
        std::vector<int> shown;
        for (int i = 0; i <= kRingSize; ++i)
            if (slotView(i)->isVisible()) shown.push_back(i);
        return shown;
    }

    // Either the live video (the player, no slot, no review time) or exactly
    // one frame slot with the review time; the window agrees with the model.
    bool displayIsConsistent() const {
        const std::vector<int> slotViews = visibleSlots();
        const bool playerShown = window->playerWidget()->isVisible();
        const bool timeShown = window->widgetOf(Ctl::frReviewTime)->isVisible();
        std::vector<int> modelSlots;
        for (int i = 1; i <= kRingSize; ++i)
            if (frm->oCaptured[static_cast<std::size_t>(i)].visible()) modelSlots.push_back(i);
        const bool live = playerShown && slotViews.empty() && !timeShown;
        const bool review = !playerShown && slotViews.size() == 1 && timeShown;
        return (live || review) && slotViews == modelSlots && playerShown == frm->oMediaPlayer.visible() &&
               timeShown == frm->frReviewTime.visible();
    }

    // The frame shown now, as the user sees it.
    Shown shownNow() const {
        Shown s{frm->mlFrameAge, visibleSlots(), -1,
                static_cast<QLabel*>(window->widgetOf(Ctl::lblReviewTime))->text().toStdString(),
                frm->lblReviewTime.caption()};
        if (s.slotViews.size() == 1) s.painted = frameNumber(slotView(s.slotViews.front())->grab().toImage());
        return s;
    }

    // What age n must show: the n-th last capture.
    const Capture& capturedAtAge(long age) const { return captures[captures.size() - static_cast<std::size_t>(age)]; }

    void expectShowsAge(const Shown& s, long age) {
        SCOPED_TRACE("age " + std::to_string(age));
        EXPECT_EQ(s.age, age);
        ASSERT_GE(captures.size(), static_cast<std::size_t>(age));
        const Capture& c = capturedAtAge(age);
        ASSERT_EQ(s.slotViews.size(), 1u);
        EXPECT_EQ(s.slotViews.front(), c.slot);
        EXPECT_GE(c.stored, 0);
        EXPECT_EQ(s.painted, c.stored);
        EXPECT_EQ(s.label, s.modelLabel);  // (the text itself: the review label unit test)
        EXPECT_TRUE(s.label.starts_with("-") && s.label.ends_with(" sec")) << s.label;
    }

    // Declared in the order the program declares them, so they go in its order.
    QtTimerHost timers;
    RecordingDesktop desktop;
    std::unique_ptr<MpvPlayer> player;
    FakeSettings settings;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QtClientArea> clientArea;
    std::unique_ptr<FrmMain> frm;

    std::vector<Capture> captures;
};

}  // namespace velmora::testing

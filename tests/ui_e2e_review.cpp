// The whole program on the real player, window, timers and clipboard: the
// numbered video plays while the ring fills, F5 held steps back through the
// captured frames, F6 steps forward, Copy Image puts the shown frame on the
// clipboard, Save Frame writes that frame, Export Frames writes the ring as
// an MP4, and F7 plays on.  Every frame is identified by the number the
// video draws into it, so what was on the screen can be followed into the
// ring, onto the review display and onto the clipboard.
#include <gtest/gtest.h>

#include "support/event_loop.h"
#include "support/qt_app.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>

#include "capture/qt_frame_files.h"
#include "support/files.h"
#include "support/whole_program.h"

namespace velmora {
namespace {

using testing::waitUntil;

using testing::Capture;
using testing::frameNumber;
using testing::mediaPath;
using testing::pictureOf;
using testing::run;
using testing::Shown;

// The real writers behind scripted dialogs.
class ScriptedFrameFiles : public QtFrameFiles {
public:
    std::string next;

    std::optional<std::string> saveFrameDialog(const std::string&) override { return next; }
    std::optional<ExportChoice> exportFramesDialog(const std::string&) override { return ExportChoice{next, false}; }
};

class EndToEndReview : public testing::WholeProgram {
protected:
    void SetUp() override {
        WholeProgram::SetUp();
        frm->setFrameFiles(&files);
    }

    // Captures from `from` on: each holds the frame that was on the screen,
    // the write position goes down through the ring and wraps to the top, and
    // the video never goes back.  Returns how many had a picture to compare.
    std::size_t expectCapturesFollowTheScreen(std::size_t from) const {
        std::size_t compared = 0;
        for (std::size_t i = from; i < captures.size(); ++i) {
            SCOPED_TRACE("capture " + std::to_string(i));
            const Capture& c = captures[i];
            EXPECT_TRUE(c.opaque);
            if (c.onScreen >= 0) {
                EXPECT_EQ(c.stored, c.onScreen);
                ++compared;
            }
            if (i > 0) {
                EXPECT_EQ(c.slot, captures[i - 1].slot == 1 ? kRingSize : captures[i - 1].slot - 1);
                EXPECT_GE(c.stored, captures[i - 1].stored);
            }
        }
        return compared;
    }

    ScriptedFrameFiles files;
};

TEST_F(EndToEndReview, PlayStepBackCopyTheShownFrameAndPlayOn) {
    frm->Form_Load(mediaPath("numbered.mp4"));
    ASSERT_FALSE(frm->unloaded());
    window->show();
    ASSERT_EQ(player->playState(), play_state::kPlaying) << player->errorDescription();
    ASSERT_EQ(frm->PlayTimer.interval(), 100);
    ASSERT_EQ(player->videoRect().size(), QSize(320, 240));
    ASSERT_EQ(frm->capturedImage[1].width, 320);
    ASSERT_EQ(frm->capturedImage[1].height, 240);
    EXPECT_TRUE(desktop.modals.empty());

    // ---- 1. Playing: every capture holds the frame that was on the screen.
    testing::spin(3000);
    // Enough frames in the ring to step through, however busy the machine.
    ASSERT_TRUE(waitUntil([&] { return captures.size() >= 20; }, 20000)) << captures.size() << " captures";
    EXPECT_EQ(player->playState(), play_state::kPlaying);

    EXPECT_EQ(captures.front().slot, kRingSize);
    // Only the ticks before mpv's first picture have nothing to compare.
    EXPECT_GE(expectCapturesFollowTheScreen(0), captures.size() / 2);
    ASSERT_GT(captures.back().stored, captures.front().stored) << "the video did not move on";
    ASSERT_GT(captures.back().stored, 0);

    // ---- 2. F5 held: review pauses the video and steps back.
    const std::size_t capturedBeforeReview = captures.size();
    const int lastBeforeReview = captures.back().stored;
    std::vector<Shown> shown;
    auto sample = [&] {
        if (shown.empty() || shown.back().age != frm->mlFrameAge) shown.push_back(shownNow());
    };
    frm->Form_KeyDown(key::F5, 0);
    EXPECT_EQ(player->playState(), play_state::kPaused);
    sample();
    // Held for about 1.5 s, or until the oldest capture of this run is one step away.
    QDeadlineTimer hold(1500);
    const long deepest = static_cast<long>(capturedBeforeReview) - 1;
    waitUntil(
        [&] {
            sample();
            return hold.hasExpired() || frm->mlFrameAge >= deepest;
        },
        5000);
    frm->Form_KeyUp(key::F5, 0);
    // The repeat timer runs out without another step.
    ASSERT_TRUE(waitUntil([&] {
        sample();
        return !frm->ReviewTimer.enabled();
    }));
    sample();
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes.front();

    EXPECT_EQ(captures.size(), capturedBeforeReview) << "captured while reviewing";
    EXPECT_EQ(player->playState(), play_state::kPaused);
    ASSERT_GE(shown.size(), 3u) << "review did not step back";
    EXPECT_EQ(shown.front().painted, lastBeforeReview);
    EXPECT_FALSE(window->playerWidget()->isVisible());
    // Older frames carry smaller numbers: the captures' own order, which expectCapturesFollowTheScreen checked.
    for (std::size_t i = 0; i < shown.size(); ++i) expectShowsAge(shown[i], static_cast<long>(i) + 1);
    EXPECT_LT(shown.back().painted, shown.front().painted);

    // ---- 3. F6 steps forward one frame; Copy Image copies that frame.
    const long ageBeforeF6 = frm->mlFrameAge;
    ASSERT_GE(ageBeforeF6, 2);
    frm->Form_KeyDown(key::F6, 0);
    frm->Form_KeyUp(key::F6, 0);
    ASSERT_TRUE(waitUntil([&] { return !frm->ReviewTimer.enabled(); }));
    const Shown forward = shownNow();
    expectShowsAge(forward, ageBeforeF6 - 1);
    EXPECT_EQ(player->playState(), play_state::kPaused);

    QClipboard* clipboard = QGuiApplication::clipboard();
    QImage stale(8, 8, QImage::Format_RGB32);
    stale.fill(Qt::red);
    clipboard->setImage(stale);
    frm->mnuToolsCopy_Click();
    const QImage copied = clipboard->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(forward.slotViews.size(), 1u);
    const QImage slotPicture =
        pictureOf(frm->capturedImage[static_cast<std::size_t>(forward.slotViews.front())]);
    ASSERT_EQ(copied.size(), slotPicture.size());
    EXPECT_TRUE(copied == slotPicture) << "the clipboard differs from the shown slot";
    const QImage painted =
        slotView(forward.slotViews.front())->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(painted.copy(slotPicture.rect()) == slotPicture) << "the slot widget does not show its slot";

    // ---- 4. Save Frame writes the frame Copy Image copied; a folder that
    // cannot be written is named in a message and keeps nothing.
    const testing::TempDir outDir("e2e");
    const std::string out = outDir.path.string();
    testing::writeAll(outDir.path / "blocked", "");
    files.next = out + "/blocked/frame.png";
    frm->mnuFileSaveFrame_Click();
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes.front().rfind("Velmora: The frame could not be saved as \"" + files.next + "\":\r\n", 0),
              0u)
        << desktop.boxes.front();
    EXPECT_GT(desktop.boxes.front().size(), files.next.size() + 50) << "no reason given";
    EXPECT_EQ(outDir.names(), std::vector<std::string>{"blocked"});
    desktop.boxes.clear();
    files.next = out + "/frame.png";
    frm->mnuFileSaveFrame_Click();
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes.front();
    EXPECT_TRUE(QImage(QString::fromStdString(files.next)).convertToFormat(QImage::Format_RGB32) == copied)
        << "the saved frame differs from the clipboard's";

    // ---- 5. Export Frames: every frame of the ring, oldest first, 100 ms each.
    const std::size_t ringFrames = std::min<std::size_t>(capturedBeforeReview, kRingSize);
    EXPECT_EQ(frm->capturedSinceOpen(), static_cast<long>(ringFrames));
    files.next = out + "/ring.mp4";
    frm->mnuFileExportFrames_Click();
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes.front();
    EXPECT_EQ(run("ffprobe -v error -count_frames -show_entries stream=nb_read_frames:format=duration "
                  "-of csv=p=0 '" + files.next + "' | tr '\\n' ' '"),
              std::to_string(ringFrames) + " " + std::to_string(ringFrames / 10) + "." +
                  std::to_string(ringFrames % 10) + "00000 ");
    const std::string grey = run("ffmpeg -v error -i '" + files.next + "' -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(grey.size(), ringFrames * 320 * 240);
    std::vector<int> exported, expected;
    for (std::size_t f = 0; f < ringFrames; ++f) {
        const QImage frame(reinterpret_cast<const uchar*>(grey.data() + f * 320 * 240), 320, 240, 320,
                           QImage::Format_Grayscale8);
        exported.push_back(frameNumber(frame));
        expected.push_back(captures[capturedBeforeReview - ringFrames + f].stored);
    }
    EXPECT_EQ(exported, expected);
    EXPECT_EQ(player->playState(), play_state::kPaused);

    // ---- 6. F7: back to the live video, and the ring fills again.
    frm->mnuViewPlay_Click();
    EXPECT_TRUE(window->playerWidget()->isVisible());
    EXPECT_TRUE(visibleSlots().empty());
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    EXPECT_EQ(frm->mlFrameAge, 0);
    ASSERT_TRUE(waitUntil([&] {
        return captures.size() >= capturedBeforeReview + 3 && captures.back().stored > lastBeforeReview;
    })) << "captures after play: "
        << captures.size() - capturedBeforeReview;
    // Playing goes on from the pause: never before the last frame captured.
    expectCapturesFollowTheScreen(capturedBeforeReview);
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes.front();
    EXPECT_TRUE(frm->msErrorMessages.empty()) << frm->msErrorMessages;
}

}  // namespace
}  // namespace velmora

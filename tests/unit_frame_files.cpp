// Save Frame and Export Frames: which frames go out, in which order, for how
// long, under which proposed name, and what the user is told when a write
// fails.
#include <gtest/gtest.h>

#include "support/harness.h"

namespace velmora::testing {
namespace {

struct FakeFrameFiles : FrameFilesPort {
    bool videoFolderWritable = true;
    std::vector<std::string> proposed;    // what the dialogs proposed
    std::optional<std::string> nextPath;  // what the dialogs return
    bool slowMotion = false;
    std::string writeFailure;  // the reason a write fails
    std::vector<Pixel> saved;  // the picture last saved
    std::string savedPath;
    std::optional<ClipJob> job;
    std::function<void()> whileExportDialog;  // what happens while it is open

    std::string picturesFolder() override { return "/home/coach/Pictures"; }
    bool folderWritable(const std::string& folder) override {
        return folder != "/videos" || videoFolderWritable;
    }
    std::optional<std::string> saveFrameDialog(const std::string& p) override {
        proposed.push_back(p);
        return nextPath;
    }
    std::optional<ExportChoice> exportFramesDialog(const std::string& p) override {
        proposed.push_back(p);
        if (whileExportDialog) whileExportDialog();
        if (!nextPath) return std::nullopt;
        return ExportChoice{*nextPath, slowMotion};
    }
    std::string savePicture(const FrameSlot& picture, const std::string& path) override {
        if (!writeFailure.empty()) return writeFailure;
        saved.assign(picture.pixels.get(), picture.pixels.get() + picture.bytes() / sizeof(Pixel));
        savedPath = path;
        return {};
    }
    ClipResult exportClip(ClipJob j) override {
        job = std::move(j);
        if (!writeFailure.empty()) return {ClipResult::Failed, writeFailure};
        return {ClipResult::Written, {}};
    }
};

// Each capture is one colour, counted from 1.
struct FilesHarness : Harness {
    FakeFrameFiles files;
    Pixel next = 1;
    FilesHarness() {
        frm.setFrameFiles(&files);
        frm.PlayTimer.setHandler([this] {
            const Pixel c = next++;
            clientArea.fill([c](int, int) { return c; });
            frm.PlayTimer_Timer();
        });
        files.nextPath = "/out/clip";
    }
    std::vector<Pixel> exportedColours() const {
        std::vector<Pixel> c;
        for (const auto& f : files.job->frames) c.push_back(f.front());
        return c;
    }
};

std::vector<Pixel> range(Pixel from, Pixel to) {
    std::vector<Pixel> v;
    for (Pixel c = from; c <= to; ++c) v.push_back(c);
    return v;
}

TEST(ExportFrames, WritesTheFramesOfThisVideoOldestFirstAtTheLabelsPace) {
    FilesHarness h;
    h.loadPlaying(300);
    h.frm.mnuFileExportFrames_Click();
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.files.proposed.back(), "/videos/clip frames.mp4");
    ASSERT_TRUE(h.files.job);
    EXPECT_EQ(h.exportedColours(), range(1, 3));
    EXPECT_EQ(h.files.job->frameMs, 100);

    // Another video: the frames of the one before are not exported.
    h.player.openable["/videos/other.mp4"] = {320, 310};
    h.frm.OpenMedia("/videos/other.mp4");
    h.files.job.reset();
    h.frm.mnuFileExportFrames_Click();
    EXPECT_FALSE(h.files.job);
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_EQ(h.messages().back(), "No frame has been captured from this video yet.");

    // A full ring after wrapping: the last 50 captures; slow speed and slow
    // motion stretch each frame.
    h.frm.setPlayButton(1);
    h.clock.advance(5500);
    h.frm.PauseTimer.setInterval(150);
    h.files.slowMotion = true;
    h.files.nextPath = "/out/clip.gif";
    h.frm.mnuFileExportFrames_Click();
    ASSERT_TRUE(h.files.job);
    EXPECT_EQ(h.files.job->format, ClipFormat::Gif);
    EXPECT_EQ(h.exportedColours(), range(h.next - 50, h.next - 1));
    EXPECT_EQ(h.files.job->frameMs, 1000);

    // A new slot size clears the ring.
    h.files.job.reset();
    h.frm.oMediaPlayer.setWidth(h.frm.oMediaPlayer.width() + 40);
    h.frm.SetSnapshotRegion();
    h.frm.mnuFileExportFrames_Click();
    EXPECT_FALSE(h.files.job);

    // Another video opened while the dialog was open: the name was chosen,
    // so the user is told why nothing was written.
    h.frm.setPlayButton(1);
    h.clock.advance(100);
    h.files.whileExportDialog = [&] { h.frm.OpenMedia("/videos/other.mp4"); };
    h.frm.mnuFileExportFrames_Click();
    EXPECT_FALSE(h.files.job);
    EXPECT_EQ(h.messages().back(),
              "The frames could not be exported to \"/out/clip.gif\":\r\nthe captured frames were cleared while "
              "the dialog was open (another video was opened, or the player changed its size).");
    h.files.whileExportDialog = nullptr;

    h.files.writeFailure = "Permission denied";
    h.frm.setPlayButton(1);
    h.clock.advance(100);
    h.frm.mnuFileExportFrames_Click();
    EXPECT_EQ(h.messages().back(),
              "The frames could not be exported to \"/out/clip.gif\":\r\nPermission denied");
    EXPECT_TRUE(h.frm.msErrorMessages.empty()) << h.frm.msErrorMessages;
}

TEST(SaveFrame, SavesTheNewestOrTheShownFrameUnderItsAge) {
    FilesHarness h;
    h.loadPlaying(500);

    // Live: the newest capture.
    h.files.nextPath = "/out/live.png";
    h.frm.mnuFileSaveFrame_Click();
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.files.proposed.back(), "/videos/clip live.png");
    EXPECT_EQ(h.files.saved.front(), 5u);
    EXPECT_EQ(h.files.savedPath, "/out/live.png");

    // In review: the frame shown, named by its label; the video's folder
    // cannot be written, so the pictures folder is proposed.
    h.files.videoFolderWritable = false;
    h.frm.Form_KeyDown(key::F5, 0);
    h.clock.advance(250);
    h.frm.Form_KeyUp(key::F5, 0);
    ASSERT_EQ(h.frm.mlFrameAge, 2);
    h.frm.mnuFileSaveFrame_Click();
    EXPECT_EQ(h.files.proposed.back(), "/home/coach/Pictures/clip -0.2 sec.png");
    EXPECT_EQ(h.files.saved.front(), 4u);
    EXPECT_TRUE(h.desktop.boxes.empty());

    // A sound file has no picture: live or in review, the user is told so.
    h.player.openable["/videos/tone.m4a"] = {0, 0};
    h.frm.OpenMedia("/videos/tone.m4a");
    h.frm.cmdPlay_Click();
    h.clock.advance(500);
    for (const bool review : {false, true}) {
        if (review) h.frm.Form_KeyDown(key::F5, 0);
        const std::size_t proposals = h.files.proposed.size();
        h.frm.mnuFileSaveFrame_Click();
        EXPECT_EQ(h.files.proposed.size(), proposals) << review;
        ASSERT_FALSE(h.messages().empty()) << review;
        EXPECT_EQ(h.messages().back(), "This video has no picture to save.") << review;
    }
}

}  // namespace
}  // namespace velmora::testing

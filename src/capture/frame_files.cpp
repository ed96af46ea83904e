// File > Save Frame As and File > Export Frames: the frame Copy Image would
// copy as a picture file, the frames captured since the video was opened as
// a clip.
#include "capture/frame_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <new>

#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

ClipFormat clipFormatOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".gif") return ClipFormat::Gif;
    if (ext == ".webp") return ClipFormat::WebP;
    return ClipFormat::Mp4;
}

std::string FrmMain::proposedFramePath(const std::string& suffix) {
    const std::string video = player_.fileName();
    std::string stem = fs::path(video).stem().string();
    if (stem.empty()) stem = kAppTitle;
    std::string folder;
    if (!video.empty()) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(fs::path(video), ec);
        if (!ec) folder = absolute.parent_path().string();
    }
    if (folder.empty() || !frameFiles_->folderWritable(folder)) folder = frameFiles_->picturesFolder();
    return (fs::path(folder) / (stem + " " + suffix)).string();
}

void FrmMain::mnuFileSaveFrame_Click() {
    trap("mnuFileSaveFrame_Click: ", [&] {
        if (!frameFiles_ || busyWithFiles_) return;
        // The frame Copy Image would copy, and how old it is.
        FrameSlot* shown = nullptr;
        std::string age;
        if (oMediaPlayer.visible()) {
            if (capturedSinceOpen_ == 0) {
                desktop_.messageBox("No frame has been captured from this video yet.", kAppTitle);
                return;
            }
            shown = &capturedImage[static_cast<std::size_t>(slotOfAge(1))];
            age = "live";
        } else {
            for (std::size_t i = 1; i < oCaptured.size(); ++i)
                if (oCaptured[i].visible()) shown = &capturedImage[i];
            age = lblReviewTime.caption();
        }
        if (!shown || !shown->pixels) {
            // A sound file, or a player too small to leave the slots a row.
            desktop_.messageBox("This video has no picture to save.", kAppTitle);
            return;
        }
        shown->settle();  // a slot not written since its last resize shows the background
        // A copy: the dialog lets timers run, and a capture may reuse the slot.
        FrameSlot picture;
        picture.resize(shown->width, shown->height);
        picture.settle(shown->width, shown->height);  // every pixel is copied in
        std::memcpy(picture.pixels.get(), shown->pixels.get(), shown->bytes());
        setPlayButton(0);

        busyWithFiles_ = true;
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done{busyWithFiles_};
        const auto path = frameFiles_->saveFrameDialog(proposedFramePath(age + ".png"));
        if (!path) return;
        const std::string reason = frameFiles_->savePicture(picture, *path);
        if (!reason.empty())
            desktop_.messageBox("The frame could not be saved as \"" + *path + "\":\r\n" + reason, kAppTitle);
    });
}

void FrmMain::mnuFileExportFrames_Click() {
    trap("mnuFileExportFrames_Click: ", [&] {
        if (!frameFiles_ || busyWithFiles_) return;
        setPlayButton(0);
        if (capturedSinceOpen_ == 0) {
            desktop_.messageBox("No frame has been captured from this video yet.", kAppTitle);
            return;
        }
        busyWithFiles_ = true;
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done{busyWithFiles_};
        const auto choice = frameFiles_->exportFramesDialog(proposedFramePath("frames.mp4"));
        if (!choice) return;

        // Oldest to newest, as the age label counts them.  The count is read
        // after the dialog: the user may have played on meanwhile.
        const long count = capturedSinceOpen_;
        if (count == 0) {
            desktop_.messageBox("The frames could not be exported to \"" + choice->path +
                                    "\":\r\nthe captured frames were cleared while the dialog was open "
                                    "(another video was opened, or the player changed its size).",
                                kAppTitle);
            return;
        }
        ClipJob job;
        job.path = choice->path;
        job.format = clipFormatOf(choice->path);
        job.width = capturedImage[1].width;
        job.height = capturedImage[1].height;
        job.frameMs = mul32(add32(PlayTimer.interval(), PauseTimer.interval()), choice->slowMotion ? 4 : 1);
        const std::uint64_t bytes = static_cast<std::uint64_t>(count) * capturedImage[1].bytes();
        if (bytes > availableMemory() / 10 * 8) {
            desktop_.messageBox("Not enough memory to export " + std::to_string(count) + " frames of " +
                                    std::to_string(job.width) + " x " + std::to_string(job.height) +
                                    " pixels.",
                                kAppTitle);
            return;
        }
        try {
            job.frames.reserve(static_cast<std::size_t>(count));
            for (long age = count; age >= 1; --age) {
                const FrameSlot& slot = capturedImage[static_cast<std::size_t>(slotOfAge(age))];
                if (slot.width != job.width || slot.height != job.height || !slot.pixels)
                    RAISE_ERROR("The captured frames differ in size");
                job.frames.emplace_back(slot.pixels.get(), slot.pixels.get() + slot.bytes() / sizeof(Pixel));
            }
        } catch (const std::bad_alloc&) {
            desktop_.messageBox("Not enough memory to export " + std::to_string(count) + " frames.",
                                kAppTitle);
            return;
        }
        const ClipResult result = frameFiles_->exportClip(std::move(job));
        if (result.status == ClipResult::Failed)
            desktop_.messageBox("The frames could not be exported to \"" + choice->path + "\":\r\n" + result.reason,
                                kAppTitle);
    });
}

}  // namespace velmora

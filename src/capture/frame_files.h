// Keeping frames as files: the shown frame as a picture, the captured frames
// of the ring as a short clip.  The window decides what is written; the port
// asks the user for the names and writes the files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "capture/frame_slot.h"

namespace velmora {

enum class ClipFormat { Mp4, Gif, WebP };

// The format a clip's file name asks for: ".gif" and ".webp" (any case),
// everything else is MP4.
ClipFormat clipFormatOf(const std::string& path);

// The frames of one clip, oldest first, each width x height pixels; owned by
// the job, so that the ring can go on being written while it is encoded.
struct ClipJob {
    std::string path;
    ClipFormat format = ClipFormat::Mp4;
    int width = 0;
    int height = 0;
    int frameMs = 100;  // how long each frame is shown
    std::vector<std::vector<Pixel>> frames;
};

struct ClipResult {
    enum Status { Written, Cancelled, Failed };
    Status status = Failed;
    std::string reason;  // why it failed
};

// What the user chose in the export dialog.
struct ExportChoice {
    std::string path;
    bool slowMotion = false;  // each frame shown four times as long
};

class FrameFilesPort {
public:
    virtual ~FrameFilesPort() = default;

    // The user's pictures folder, where frames go when the video's folder
    // cannot be written.
    virtual std::string picturesFolder() = 0;
    virtual bool folderWritable(const std::string& folder) = 0;

    // The save dialogs, starting on `proposedPath`; they confirm replacing
    // an existing file themselves.  Nothing when the user cancelled.
    virtual std::optional<std::string> saveFrameDialog(const std::string& proposedPath) = 0;
    virtual std::optional<ExportChoice> exportFramesDialog(const std::string& proposedPath) = 0;

    // Writes the picture as PNG, or JPEG when the name ends in .jpg/.jpeg.
    // Returns the reason it failed, empty when written.  A failed write
    // leaves no file behind and an existing file as it was.
    virtual std::string savePicture(const FrameSlot& picture, const std::string& path) = 0;

    // Encodes the clip; may take a while and show progress.  A cancelled or
    // failed export leaves no file behind.
    virtual ClipResult exportClip(ClipJob job) = 0;
};

}  // namespace velmora

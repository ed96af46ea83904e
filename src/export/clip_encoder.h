// Encoding a clip of captured frames with the FFmpeg libraries, on whatever
// thread calls it.
#pragma once

#include <functional>

#include "capture/frame_files.h"

namespace velmora {

// Called after each frame with the number of frames encoded so far (0 before
// the first); returning false cancels the export.
using ClipProgress = std::function<bool(int framesDone)>;

// Writes the clip to a temporary name beside job.path and renames it when it
// is complete: a cancelled or failed export leaves no file, and a file of
// the same name stays as it was.  MP4 is H.264 (yuv420p; an odd width or
// height loses its last column or row), GIF uses one fixed palette with
// ordered dithering, WebP is an animated lossy WebP.
ClipResult encodeClip(const ClipJob& job, const ClipProgress& progress = {});

}  // namespace velmora

// The video filters mpv runs for the open file, besides what it chooses itself.
#pragma once

#include <string>

#include "playback/tone_map.h"

namespace velmora {

// The filters every file starts with: `upright` (the filter that turns its
// picture upright, or "") and the one that lets HDR video be tone mapped.
inline std::string fileFilters(const std::string& upright) {
    return upright.empty() ? kHdrSignalFilter : upright + "," + kHdrSignalFilter;
}

// Put in front of them once a file's frames turn out to be interlaced: one
// picture per frame, made of both fields; frames flagged progressive pass
// through untouched.
inline constexpr const char* kDeinterlaceFilter =
    "@deinterlace:lavfi=[bwdif=mode=send_frame:parity=auto:deint=interlaced]";

}  // namespace velmora

// The application's title and version.
#pragma once

namespace velmora {

// Names the settings file and its section, and begins several captions.
inline constexpr const char* kAppTitle = "Velmora";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;

}  // namespace velmora

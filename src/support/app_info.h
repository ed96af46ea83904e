// The application's title and version.
#pragma once

#include <string>

namespace velmora {

// Names the settings file and its section, and begins several captions.
inline constexpr const char* kAppTitle = "Velmora";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;

// The version as captions and mail show it: "1.0.0".
inline std::string versionNumber() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

}  // namespace velmora

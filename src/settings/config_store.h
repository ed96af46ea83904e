// The program's settings: one value per key in the [Velmora] section of
// Velmora.ini, read from disk on every call and written at once.
#pragma once

#include <string>

#include "settings/settings_port.h"
#include "support/app_info.h"
#include "support/desktop_port.h"

namespace velmora {

// What a read falls back to when the key is missing; never returned as such.
inline constexpr const char* kMissingValueMarker = "DUMMY_REGISTRY_VALUE";

class ConfigStore : public SettingsPort {
public:
    ConfigStore(std::string iniPath, DesktopPort& desktop);

    // Where the settings live: beside the program when its folder (and the
    // file, if it exists) is writable, otherwise
    // $XDG_CONFIG_HOME/Velmora/Velmora.ini (default ~/.config/Velmora).
    static std::string resolvePath(const std::string& programFolder);

    // The value of `key`, "" when the file, the key or the value is missing.
    // Values are cut to 999 characters and at the first NUL byte. Errors are
    // shown in a message box and give "".
    std::string GetConfigValue(const std::string& key) override;

    // Stores `key` and writes the file atomically. Errors are shown in a
    // message box; the previous file is then left as it was.
    void SetConfigValue(const std::string& key, const std::string& value) override;

    const std::string& path() const { return iniPath_; }

private:
    void write(const std::string& key, const std::string& value);

    std::string iniPath_;
    DesktopPort& desktop_;
    bool createFolder_;  // the folder is ours to create (the XDG location)
};

// The folder of the running executable (from /proc/self/exe), "" if unknown.
std::string programFolder();

}  // namespace velmora

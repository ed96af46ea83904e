// The program's settings: one value per key in the [Velmora] section of
// Velmora.ini, read from disk on every call and written at once.
#pragma once

#include <optional>
#include <set>
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

    // `iniPath` is read even when it cannot be written: writes then go to
    // $XDG_CONFIG_HOME/Velmora/Velmora.ini (default ~/.config/Velmora), which
    // starts as a copy of it and is read first from then on. A file is
    // written back in its own encoding (UTF-8, or UTF-16 with a byte-order
    // mark) and line ends.
    //
    // Where the settings live: beside the program when the file is there or
    // the folder is writable, otherwise in the XDG folder.
    static std::string resolvePath(const std::string& programFolder);

    // The value of `key`, "" when the file, the key or the value is missing.
    // Values are cut to 999 bytes (not inside a UTF-8 character) and at the
    // first NUL byte. Errors are
    // shown in a message box and give "".
    std::string GetConfigValue(const std::string& key) override;

    // Stores `key` and writes the file atomically. Errors are shown in a
    // message box, each one once; the previous file is then left as it was.
    void SetConfigValue(const std::string& key, const std::string& value) override;

    // From now on errors go to standard error: a box at exit would keep the
    // program up (after a termination signal too, behind the box).
    void programEnding() override { ending_ = true; }

private:
    // Writes `source`'s settings with `key` set to `target`.
    void write(const std::string& target, const std::string& source, const std::string& key,
               const std::string& value);
    std::optional<std::string> readText(const std::string& path, int& err) const;
    void report(const std::string& message);

    std::string iniPath_;
    std::string fallbackPath_;  // the XDG file, unless that is iniPath_
    bool redirected_ = false;   // writes go to fallbackPath_
    DesktopPort& desktop_;
    std::set<std::string> reported_;
    bool ending_ = false;
};

// The folder of the running executable (from /proc/self/exe), "" if unknown.
std::string programFolder();

}  // namespace velmora

// The settings file as the program reads and writes it: text values by key,
// every call straight to the file.
#pragma once

#include <string>

namespace velmora {

class SettingsPort {
public:
    virtual ~SettingsPort() = default;
    // The stored value, or "" when the key is missing, empty or unreadable.
    virtual std::string GetConfigValue(const std::string& key) = 0;
    virtual void SetConfigValue(const std::string& key, const std::string& value) = 0;
    // The program is ending: what fails from now on is told where it cannot
    // hold the exit up (no message box).
    virtual void programEnding() {}
};

}  // namespace velmora

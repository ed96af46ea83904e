// What a bench's program runs against besides the real player and window:
// settings kept in memory, and a desktop that prints its messages instead of
// waiting for a click.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "settings/settings_port.h"
#include "support/desktop_port.h"

namespace velmora {

struct MemorySettings : SettingsPort {
    std::map<std::string, std::string> values{{"StartCount", "100"}};
    std::string GetConfigValue(const std::string& k) override { return values[k]; }
    void SetConfigValue(const std::string& k, const std::string& v) override { values[k] = v; }
};

class PrintingDesktop : public DesktopPort {
public:
    int messages = 0;
    void messageBox(const std::string& text, const std::string& caption) override {
        ++messages;
        std::fprintf(stderr, "[message] %s: %s\n", caption.c_str(), text.c_str());
    }
    void showModal(ModalWindow) override {}
    std::optional<std::string> openFileDialog(const std::string&, const std::string&) override { return {}; }
    void openExternal(const std::string&) override {}
    void clipboardClear() override {}
    void clipboardSetImage(const FrameSlot&) override {}
};

}  // namespace velmora

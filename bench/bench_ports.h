// What a bench's program runs against besides the real player and window:
// settings kept in memory, and a desktop that prints its messages instead of
// waiting for a click; and the program built on them as it builds itself.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "app/frm_main.h"
#include "app/main_window.h"
#include "base/qt_timer_host.h"
#include "capture/qt_client_area.h"
#include "playback/mpv_player.h"
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

// Members in the order the program makes them, so that they go in its order.
struct BenchProgram {
    QtTimerHost timers;
    PrintingDesktop desktop;
    MemorySettings settings;
    MpvPlayer player{nullptr, MpvOptions{"null"}};
    MainWindow window{&player};
    QtClientArea clientArea{window.clientArea(), &player, [this]() -> const QImage* { return &player.videoImage(); },
                            [this] { return player.videoRect(); }};
    FrmMain frm{timers, desktop, player, settings, clientArea};

    BenchProgram() { window.bind(frm); }
};

}  // namespace velmora

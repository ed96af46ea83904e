// The options dialog's state: which capture interval is chosen.
//
// The dialog is loaded on first use (possibly unseen, when the main window
// first asks for the capture interval) and stays loaded until the main
// window unloads it.
#pragma once

#include <array>

#include "settings/settings_port.h"
#include "support/desktop_port.h"

namespace velmora {

class FrmOptions {
public:
    FrmOptions(SettingsPort& settings, DesktopPort& desktop) : settings_(settings), desktop_(desktop) {}

    static constexpr std::array<const char*, 4> kCaptions{"0.05 sec", "0.1 sec", "0.2 sec", "0.5 sec"};

    // Loads the dialog when it is not loaded yet (runs Form_Load).
    void ensureLoaded();
    void unload() { loaded_ = false; }

    // optFreezeFrameTime(index).Value, loading the dialog first.
    bool optionSelected(int index);
    void selectOption(int index);

    void Form_Load();
    void OKButton_Click();

private:
    SettingsPort& settings_;
    DesktopPort& desktop_;
    bool loaded_ = false;
    int selected_ = 1;
};

}  // namespace velmora

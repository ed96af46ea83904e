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

    bool loaded() const { return loaded_; }
    // Loads the dialog when it is not loaded yet (runs Form_Load).
    void ensureLoaded();
    // Unloading drops a choice that Close did not store: the next use loads
    // the dialog again from the settings file.
    void unload() { loaded_ = false; }

    // optFreezeFrameTime(index).Value, loading the dialog first.
    bool optionSelected(int index);
    // The selected option as it stands, without loading the dialog.
    int selectedIndex() const { return selected_; }
    void selectOption(int index);

    void Form_Load();
    // Close: the dialog is hidden (it stays loaded) and the choice stored.
    void OKButton_Click();

private:
    SettingsPort& settings_;
    DesktopPort& desktop_;
    bool loaded_ = false;
    int selected_ = 1;
};

}  // namespace velmora

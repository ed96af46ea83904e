// What the program asks of the desktop: message boxes, modal windows, the
// open-file dialog, handing a link or page to the desktop, the clipboard.
#pragma once

#include <optional>
#include <string>

#include "support/app_info.h"
#include "base/errors.h"

namespace velmora {

struct FrameSlot;

// The program's secondary windows, shown modally.
enum class ModalWindow { About, Options, Error };

class DesktopPort {
public:
    virtual ~DesktopPort() = default;

    // A modal message box with one OK button.
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;

    // Shows one of the program's windows modally; returns when it is closed.
    virtual void showModal(ModalWindow window) = 0;

    // The open-file dialog. `filter` is in the "Name|patterns|Name|patterns"
    // form. Returns the chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> openFileDialog(const std::string& title,
                                                      const std::string& filter) = 0;

    // Hands a link or a file to the desktop's default program for it.
    virtual void openExternal(const std::string& target) = 0;

    virtual void clipboardClear() = 0;
    // Puts a copy of the slot's picture on the clipboard as an image.
    virtual void clipboardSetImage(const FrameSlot& slot) = 0;
};

// The trap of a procedure that reports in a plain message box (the settings
// functions, the program's dialogs): an error ends it and shows
// "prefix" + description with one OK button and the application title.
template <typename F>
void reportInMessageBox(DesktopPort& desktop, const char* prefix, F&& body) {
    reportErrors(prefix, [&desktop](const std::string& message, int) { desktop.messageBox(message, kAppTitle); },
                 std::forward<F>(body));
}

}  // namespace velmora

// The desktop as the program sees it, on Qt: message boxes, the program's
// modal windows, the open-file dialog, xdg-open and the clipboard.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "support/desktop_port.h"
#include "base/timer.h"

namespace velmora {

class FrmOptions;
class FrmError;

// "Name|p1;p2|Name|p" -> "Name (p1 p2);;Name (p)".  Empty patterns and a
// lone '"' are dropped; "*.*" becomes "*" so that names without a dot are
// listed too.
QString qtFileFilter(const std::string& filter);

class QtDesktop : public DesktopPort {
public:
    // Dialogs are centred on `parent` when it is set (the main window).
    void setParentWindow(QWidget* parent) { parent_ = parent; }
    // The dialogs' procedures and state, owned by the main window.
    void setDialogs(FrmOptions* options, FrmError* error) {
        options_ = options;
        error_ = error;
    }
    // The About box runs its animation on `timers` and finds its pictures in
    // `programFolder`.
    void setAboutBox(TimerHost& timers, std::string programFolder) {
        timers_ = &timers;
        programFolder_ = std::move(programFolder);
    }

    void messageBox(const std::string& text, const std::string& caption) override;
    void showModal(ModalWindow window) override;
    std::optional<std::string> openFileDialog(const std::string& title, const std::string& filter) override;
    void openExternal(const std::string& target) override;
    void clipboardClear() override;
    void clipboardSetImage(const FrameSlot& slot) override;

private:
    QWidget* dialogParent() const;

    QPointer<QWidget> parent_;
    FrmOptions* options_ = nullptr;
    FrmError* error_ = nullptr;
    TimerHost* timers_ = nullptr;
    std::string programFolder_;
};

}  // namespace velmora

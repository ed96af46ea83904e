// The main window's Help menu: the About box and the FAQ page.
#include <filesystem>

#include "app/frm_main.h"
#include "base/errors.h"

namespace velmora {

// The page that answers the users' questions, in the program folder.
inline constexpr const char* kFaqPage = "Velmora FAQ.htm";

void FrmMain::mnuHelpAbout_Click() {
    // The box is what the introduction would show: it is not opened again over itself.
    SplashTimer.setEnabled(false);
    PauseVideo();
    desktop_.showModal(ModalWindow::About);
}

void FrmMain::mnuHelpContent_Click() {
    // Nothing here is reported: a missing page or viewer shows nothing.
    resumeNext([&] {
        const std::filesystem::path page = std::filesystem::path(appPath) / kFaqPage;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(page, ec)) return;
        desktop_.openExternal(page.string());
    });
}

}  // namespace velmora

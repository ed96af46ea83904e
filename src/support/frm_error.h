// The error dialog: shows one error message and sends the messages of the
// run as a bug report.  Created anew for each error, unloaded by both of its
// buttons and when the main window ends.
#pragma once

#include <string>

#include "support/desktop_port.h"

namespace velmora {

class FrmError {
public:
    // `errorMessages` is the main window's list of the run's messages.
    FrmError(DesktopPort& desktop, const std::string& errorMessages)
        : desktop_(desktop), errorMessages_(errorMessages) {}

    static constexpr const char* kCloseCaption = "Close";
    static constexpr const char* kEmailCaption = "Email bug report";
    static constexpr const char* kEmailToolTip = "Email error description";

    bool loaded() const { return loaded_; }
    // Referring to the dialog creates it when it does not exist: a fresh one
    // with its designed caption and no text.
    void ensureLoaded();
    void unload() { loaded_ = false; }

    std::string caption;
    std::string txtError;

    void OKButton_Click() { unload(); }
    void cmdEmail_Click();

    // The subject and body of the bug report.
    std::string reportSubject() const;
    std::string reportBody() const;

private:
    DesktopPort& desktop_;
    const std::string& errorMessages_;
    bool loaded_ = false;
};

}  // namespace velmora

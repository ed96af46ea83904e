#include "support/frm_error.h"

#include "base/errors.h"
#include "support/mail_composer.h"

namespace velmora {

void FrmError::ensureLoaded() {
    if (loaded_) return;
    loaded_ = true;
    caption = "Error Description";
    txtError.clear();
}

std::string FrmError::reportSubject() const { return GetVersionText(); }

std::string FrmError::reportBody() const {
    return "Please write your message above this line.\r\n\r\n" + GetVersionText() + " error descriptions:\r\n" +
           errorMessages_ + "\r\n";
}

void FrmError::cmdEmail_Click() {
    std::string subject, body;
    resumeNext([&] { subject = reportSubject(); });
    resumeNext([&] { body = reportBody(); });
    resumeNext([&] { SendMail(desktop_, subject, body); });
    resumeNext([&] { unload(); });
}

}  // namespace velmora

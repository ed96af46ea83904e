// The About box's procedures.
#include "support/frm_about.h"

#include "support/app_info.h"
#include "base/errors.h"
#include "support/mail_composer.h"

namespace velmora {

const char* const kDisclaimerScrambled = "Twrzngii#ex#mx1";

FrmAbout::FrmAbout(TimerHost& timers, DesktopPort& desktop, AboutView& view, std::string programFolder)
    : Timer1(timers, "Timer1", 1000), desktop_(desktop), view_(view), folder_(std::move(programFolder)) {
    Timer1.setHandler([this] { Timer1_Timer(); });
    // Timer1 runs from the moment the box is loaded, whatever Form_Load does.
    Timer1.setEnabled(true);
}

void FrmAbout::Form_Load() {
    reportInMessageBox(desktop_, "frmAbout: ", [&] {
        caption_ = std::string("About ") + kAppTitle + " " + versionNumber();
        view_.aboutChanged();
        disclaimer_ = UnscrambleText(kDisclaimerScrambled);
        view_.aboutChanged();
        buttonImage_ = kReviewIdle;
        view_.aboutChanged();
        miStep = 1;
        miFrame = 0;
        LoadFrameImage(miFrame);
    });
}

void FrmAbout::LoadFrameImage(const std::int16_t& frame) {
    view_.loadFramePicture(folder_ + "/" + std::to_string(frame) + ".gif");
}

void FrmAbout::Timer1_Timer() {
    try {
        if (miFrame == 0 && miStep != 0)
            miStep = 0;
        else if (miFrame == 5)
            miStep = -1;
        else if (miFrame == 0)
            miStep = 1;
        showDirection();
        miFrame = static_cast<std::int16_t>(miFrame + miStep);
        LoadFrameImage(miFrame);
    } catch (const std::exception&) {
        // The animation stops where it is; nothing is reported.
        Timer1.setEnabled(false);
    }
}

void FrmAbout::showDirection() {
    buttonImage_ = miStep < 0 ? kReviewBack : miStep > 0 ? kReviewForward : kReviewIdle;
    leftMouse_ = miStep < 0;
    rightMouse_ = miStep > 0;
    view_.aboutChanged();
}

void FrmAbout::Form_Activate() { view_.focusForm(); }

void FrmAbout::Form_KeyDown(int /*keyCode*/, int /*shift*/) { unload(); }

void FrmAbout::cmdOK_Click() { unload(); }

void FrmAbout::unload() {
    Timer1.setEnabled(false);
    view_.unload();
}

}  // namespace velmora

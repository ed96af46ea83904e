// Review mode: showing a frame of the ring, stepping, repetition and keys.
#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

void FrmMain::ShowImage(long age) {
    trap("ShowImage: ", [&] {
        mlFrameAge = age;
        if (age == 0 && oMediaPlayer.visible()) return;
        if (age < 0 || age > kRingSize) return;
        long k = 0;
        if (age == 0) {
            oMediaPlayer.setVisible(true);
            frReviewTime.setVisible(false);
        } else {
            frReviewTime.setVisible(true);
            const std::int32_t perFrame = add32(PlayTimer.interval(), PauseTimer.interval());
            lblReviewTime.setCaption(reviewTimeCaption(perFrame, age, decimalSeparator));
            k = slotOfAge(age);
            capturedImage[static_cast<std::size_t>(k)].settle();
            oCaptured[static_cast<std::size_t>(k)].setVisible(true);
            oMediaPlayer.setVisible(false);
        }
        for (long i = 1; i < static_cast<long>(oCaptured.size()); ++i)
            if (i != k) oCaptured[static_cast<std::size_t>(i)].setVisible(false);
        if (view_) view_->showNow();
    });
}

void FrmMain::ProcessReview() {
    trap("ProcessReview: ", [&] {
        if (ReviewTimer.enabled()) return;  // the timer calls again
        PauseVideo();
        setPlayButton(0);
        if (mlReviewDirection == 1) {
            if (mlFrameAge < kRingSize) {
                ShowImage(mlFrameAge + 1);
                ReviewTimer.setEnabled(true);
            }
        } else if (mlReviewDirection == 2) {
            if (mlFrameAge > 1) {
                ShowImage(mlFrameAge - 1);
                ReviewTimer.setEnabled(true);
            }
        }
    });
}

void FrmMain::cmdReview_MouseDown(int button, int /*shift*/, double x, double /*y*/) {
    trap("cmdReview_MouseDown: ", [&] {
        // The other button during a press returns to the live video.
        if ((button == mouse::Right && mlReviewDirection == 1) || (button == mouse::Left && mlReviewDirection == 2)) {
            setPlayButton(1);
            return;
        }
        if (mlReviewDirection > 0) return;
        PauseVideo();
        if (x > 800) button = mouse::Right;
        mlRepeatDelay = frmOptions.optionSelected(0) ? 2 : 1;
        if (button == mouse::Left) {
            mlReviewDirection = 1;
            cmdReview.setValue(kReviewBack);
            ProcessReview();
        } else if (button == mouse::Right) {
            cmdReview.setValue(kReviewForward);
            if (mlFrameAge < 2) {
                // One step beyond the newest frame: play one capture interval.
                mbPauseAfterCapture = true;
                PlayVideo();
            } else {
                mlReviewDirection = 2;
                ProcessReview();
            }
        }
    });
}

void FrmMain::ResetReviewButton() {
    resumeNext([&] { mlReviewDirection = 0; });
    resumeNext([&] { cmdReview.setValue(kReviewIdle); });
}

void FrmMain::cmdReview_MouseUp() { ResetReviewButton(); }
void FrmMain::cmdReview_Click() { ResetReviewButton(); }
void FrmMain::cmdReview_KeyUp() { ResetReviewButton(); }

void FrmMain::ReviewTimer_Timer() {
    if (mlRepeatDelay > 0) {
        --mlRepeatDelay;
        return;
    }
    resumeNext([&] { ReviewTimer.setEnabled(false); });
    if (mlReviewDirection != 0) resumeNext([&] { ProcessReview(); });
}

void FrmMain::focusControl(Control& control, SourceLocation where) {
    if (!control.enabled() || !control.visible()) raiseError(kErrInvalidCall, where);
    if (view_) view_->setFocus(control.id());
}

void FrmMain::Form_KeyDown(int keyCode, int /*shift*/) {
    trap("Form_KeyDown: ", [&] {
        if (keyCode == key::F5 && !ReviewTimer.enabled()) {
            cmdReview.setValue(kReviewBack);
            focusControl(cmdReview);
            cmdReview_MouseDown(mouse::Left, 0, 0, 0);
        } else if (keyCode == key::F6 && !ReviewTimer.enabled()) {
            cmdReview.setValue(kReviewForward);
            focusControl(cmdReview);
            cmdReview_MouseDown(mouse::Right, 0, 0, 0);
        }
    });
}

void FrmMain::Form_KeyUp(int keyCode, int /*shift*/) {
    if (keyCode == key::F4) mnuToolsBack_Click();
    ResetReviewButton();
}

void FrmMain::mnuViewPrev_Click() {
    if (mlReviewDirection > 0) return;
    resumeNext([&] { focusControl(cmdReview); });
    resumeNext([&] { cmdReview_MouseDown(mouse::Left, 0, 0, 0); });
    resumeNext([&] { ResetReviewButton(); });
}

void FrmMain::mnuViewNext_Click() {
    if (mlReviewDirection > 0) return;
    cmdReview_MouseDown(mouse::Right, 0, 0, 0);
    ResetReviewButton();
}

void FrmMain::oCaptured_MouseDown(int /*index*/, int button, int /*shift*/, double /*x*/, double /*y*/) {
    if (button == mouse::Left) PlayVideo();
}

}  // namespace velmora

// Play / pause, slow speeds, the jump back, and the player's state events.
#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

void FrmMain::PauseVideo() {
    if (player_.playState() == play_state::kPlaying) player_.pause();
}

void FrmMain::PlayVideo() {
    int state = play_state::kStopped;
    // When the state cannot be read, play is still asked for.
    resumeNext([&] { state = player_.playState(); });
    if (state != play_state::kNoMedia) resumeNext([&] { player_.play(); });
}

void FrmMain::setPlayButton(int value) {
    if (cmdPlay.value() == value) return;
    cmdPlay.setValue(value);
    cmdPlay_Click();
}

void FrmMain::cmdPlay_Click() {
    trap("cmdPlay_Click: ", [&] {
        if (cmdPlay.value() != 0) {
            ShowImage(0);
            PlayVideo();
        } else {
            PlayTimer.setEnabled(false);
            PauseTimer.setEnabled(false);
            PauseVideo();
        }
    });
}

void FrmMain::mnuViewPlay_Click() { setPlayButton(cmdPlay.value() != 0 ? 0 : 1); }

void FrmMain::oMediaPlayer_PlayStateChange(int /*oldState*/, int newState) {
    trap("oMediaPlayer_PlayStateChange: ", [&] {
        PlayTimer.setEnabled(false);
        if (newState == play_state::kPlaying) {
            PlayTimer.setEnabled(true);
            ReviewTimer.setEnabled(false);
            ShowImage(0);
            setPlayButton(1);
            ShowToolTips(false);
        } else if (newState == play_state::kPaused) {
            // A pause while PauseTimer runs is a slow-speed hold: the button stays down.
            if (!PauseTimer.enabled()) setPlayButton(0);
            ShowToolTips(true);
        } else {
            setPlayButton(0);
        }
    });
}

void FrmMain::oMediaPlayer_OpenStateChange(int oldState, int /*newState*/) {
    cmdPlay.setEnabled(oldState != open_state::kMediaOpen);
    cmdReview.setEnabled(cmdPlay.enabled());
}

void FrmMain::SpeedScrollBar_Change() {
    static constexpr const char* kLabels[] = {"Speed: normal", "Speed: slow", "Speed: very slow"};
    const int v = SpeedScrollBar.value();
    resumeNext([&] {
        if (v >= 0 && v <= 2) lblSpeed.setCaption(kLabels[v]);
    });
    resumeNext([&] { PauseTimer.setInterval(mul32(mul32(PlayTimer.interval(), v), 2)); });
    resumeNext([&] { player_.setSlowSpeed(v != 0); });
}

void FrmMain::SpeedScrollBar_Scroll() { SpeedScrollBar_Change(); }

void FrmMain::PauseTimer_Timer() {
    PauseTimer.setEnabled(false);
    PlayVideo();
}

void FrmMain::mnuToolsBack_Click() {
    trap("mnuToolsBack_Click: ", [&] {
        // A live source jumps back within what it has received, however little.
        if (!player_.live() && player_.currentPosition() < 10) return;
        ShowImage(0);
        player_.setCurrentPosition(player_.currentPosition() - 10);
        player_.setCurrentPosition(player_.currentPosition() + 2);
    });
}

}  // namespace velmora

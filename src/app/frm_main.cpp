// The main window: design-time state, the window's outer size, start-up and
// shut-down.
#include "app/frm_main.h"

#include <algorithm>
#include <cmath>

#include "settings/config_store.h"
#include "base/convert.h"
#include "base/errors.h"
#include "support/mail_composer.h"

namespace velmora {

const char* const kOpenFileFilter =
    "Video Files |*.avi;*.wmv;*.wmp;*.asf;*.asx;*.wmx;*.mpeg;*.mpg;*.mp2;*.mp4;*.m4v;*.mkv;*.mov;*.webm"
    "|AllFiles (*.*)|*.*;\"";

FrmMain::FrmMain(TimerHost& timers, DesktopPort& desktop, PlayerPort& player, SettingsPort& settings,
                 ClientAreaSource& clientArea)
    : SplashTimer(timers, "SplashTimer", 500),
      PlayTimer(timers, "PlayTimer", 100),
      PauseTimer(timers, "PauseTimer", 0),
      ReviewTimer(timers, "ReviewTimer", 100),
      frmOptions(settings, desktop),
      frmError(desktop, msErrorMessages),
      desktop_(desktop),
      player_(player),
      settings_(settings),
      clientArea_(clientArea),
      caption_(kAppTitle) {
    // The controls as designed (pixels of the client area).
    cmdPlay.design(4, 4, 79, 23, true, false);
    cmdPlay.setToolTip("Play / Pause Video");
    cmdReview.design(92, 4, 79, 23, true, true);
    frReviewTime.design(176, 0, 49, 27, false, false);
    lblReviewTime.design(4, 8, 41, 17, true, true, "-0.0 sec");
    lblSpeed.design(236, 0, 89, 13, true, true, "Speed: normal");
    SpeedScrollBar.design(236, 16, 69, 13, true, true);
    oMediaPlayer.design(4, 36, 239, 251, true, true);
    lblHider.design(4, 288, 93, 53, true, true);
    cmdReviewPictures.design(292, 228, 29, 29, false, true);
    for (Control* m : {&mnuZoom100, &mnuZoom200, &mnuZoomFit}) m->design(0, 0, 0, 0, true, true);
    oCaptured.reserve(kRingSize + 1);
    oCaptured.emplace_back(Ctl::oCaptured, 0);
    oCaptured[0].design(4, 36, 273, 173, false, true);

    SplashTimer.setHandler([this] { SplashTimer_Timer(); });
    PlayTimer.setHandler([this] { PlayTimer_Timer(); });
    PauseTimer.setHandler([this] { PauseTimer_Timer(); });
    ReviewTimer.setHandler([this] { ReviewTimer_Timer(); });

    player_.onPlayStateChange = [this](int o, int n) { oMediaPlayer_PlayStateChange(o, n); };
    player_.onOpenStateChange = [this](int o, int n) { oMediaPlayer_OpenStateChange(o, n); };
    player_.onVideoSizeChange = [this] { oMediaPlayer_VideoSizeChange(); };

    appPath = programFolder();

    // The write position is valid from the start, even when start-up stops
    // before it sets it.
    mlCapturePos = kRingSize;
}

FrmMain::~FrmMain() {
    // The player may outlive the window: its last events go nowhere.
    player_.onPlayStateChange = nullptr;
    player_.onOpenStateChange = nullptr;
    player_.onVideoSizeChange = nullptr;
}

void FrmMain::setView(FormView* view) {
    view_ = view;
    for (Control* c : {&cmdPlay, &cmdReview, &frReviewTime, &lblReviewTime, &lblSpeed, &SpeedScrollBar,
                       &oMediaPlayer, &lblHider, &cmdReviewPictures, &mnuZoom100, &mnuZoom200, &mnuZoomFit})
        c->setSink(view);
    for (Control& c : oCaptured) c.setSink(view);
    if (view_) view_->setCaption(caption_);
}

// ---- The window's own size ----

void FrmMain::setCaption(const std::string& text) {
    caption_ = text;
    if (view_) view_->setCaption(text);
}

double FrmMain::twipsPerPixel() const {
    const int dpi = view_ ? view_->dotsPerInch() : 96;
    return 1440.0 / (dpi > 0 ? dpi : 96);
}

double FrmMain::width() const {
    const int nc = view_ ? view_->nonClientSize().width : 0;
    return (clientWidth_ + nc) * twipsPerPixel();
}

double FrmMain::height() const {
    const int nc = view_ ? view_->nonClientSize().height : 0;
    return (clientHeight_ + nc) * twipsPerPixel();
}

void FrmMain::setWidth(double twips) {
    if (!(twips >= 0)) RAISE_ERROR("Invalid property value");
    const double px = roundHalfEven(twips / twipsPerPixel());
    const int nc = view_ ? view_->nonClientSize().width : 0;
    applyClientSize(std::max(0, toInt32(px) - nc), clientHeight_);
}

void FrmMain::setHeight(double twips) {
    if (!(twips >= 0)) RAISE_ERROR("Invalid property value");
    const double px = roundHalfEven(twips / twipsPerPixel());
    const int nc = view_ ? view_->nonClientSize().height : 0;
    applyClientSize(clientWidth_, std::max(0, toInt32(px) - nc));
}

void FrmMain::applyClientSize(int w, int h) {
    // No zoom and no stored size makes the window larger than its screen.
    const ClientSize most = view_ ? view_->largestClientSize() : ClientSize{};
    if (most.width > 0) w = std::min(w, most.width);
    if (most.height > 0) h = std::min(h, most.height);
    if (w == clientWidth_ && h == clientHeight_) return;
    clientWidth_ = w;
    clientHeight_ = h;
    if (view_) view_->setClientSize(w, h);
    Form_Resize();
}

void FrmMain::clientResized(int w, int h) {
    if (w == clientWidth_ && h == clientHeight_) return;
    clientWidth_ = w;
    clientHeight_ = h;
    Form_Resize();
}

WindowState FrmMain::windowState() const { return view_ ? view_->windowState() : windowState_; }

void FrmMain::setWindowState(WindowState state) {
    windowState_ = state;
    if (view_ && view_->windowState() != state) view_->setWindowState(state);
}

// ---- Start-up ----

void FrmMain::Form_Load(const std::string& commandLine) {
    trap("Form_Load: ", [&] {
        for (int i = static_cast<int>(oCaptured.size()); i <= kRingSize; ++i) {
            Control slot(Ctl::oCaptured, i);
            const Control& e0 = oCaptured[0];
            slot.design(e0.left(), e0.top(), e0.width(), e0.height(), false, e0.enabled());
            slot.setSink(view_);
            oCaptured.push_back(slot);
            capturedImage[i].resize(static_cast<int>(e0.width()), static_cast<int>(e0.height()));
        }
        LoadSettings();
        ShowToolTips(true);
        mlPlayerHeight = toInt32(scaleHeight() - oMediaPlayer.top());
        mlPlayerWidth = toInt32(scaleWidth());
        if (!commandLine.empty()) OpenMedia(commandLine);
        if (player_.playState() == play_state::kNoMedia) {
            if (CountStart() < 10) SplashTimer.setEnabled(true);
        }
        mlCapturePos = kRingSize;
    });
}

void FrmMain::LoadSettings() {
    trap("LoadSettings: ", [&] {
        PlayTimer.setInterval(GetFrameInterval());
        PauseTimer.setInterval(0);
        ReviewTimer.setInterval(PlayTimer.interval());
        std::string s = settings_.GetConfigValue("width");
        if (!s.empty()) setWidth(toSingle(s));
        s = settings_.GetConfigValue("height");
        if (!s.empty()) setHeight(toSingle(s));
        s = settings_.GetConfigValue("zoom");
        if (s == "2")
            mnuZoom200.setChecked(true);
        else if (s == "3")
            mnuZoomFit.setChecked(true);
        else
            mnuZoom100.setChecked(true);
    });
}

int FrmMain::CountStart() {
    const std::string s = settings_.GetConfigValue("StartCount");
    int n = 1;
    if (isNumeric(s)) n = toInt16(toDouble(s) + 1);
    settings_.SetConfigValue("StartCount", std::to_string(n));
    return n;
}

void FrmMain::ShowToolTips(bool show) {
    cmdReview.setToolTip(show ? "Left mouse down = Back F5, Right mouse down = Forward F6" : "");
    cmdPlay.setToolTip(show ? "Play - Pause Video F7" : "");
}

void FrmMain::SplashTimer_Timer() {
    SplashTimer.setEnabled(false);
    desktop_.showModal(ModalWindow::About);
}

long FrmMain::GetFrameInterval() {
    long ms = 50;
    if (frmOptions.optionSelected(1)) ms = 100;
    if (frmOptions.optionSelected(2)) ms = 200;
    if (frmOptions.optionSelected(3)) ms = 500;
    return ms;
}

// ---- Shut-down ----

void FrmMain::mnuFileExit_Click() {
    if (view_)
        view_->unload();
    else
        Form_Unload();
}

void FrmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    settings_.programEnding();
    resumeNext([&] { settings_.SetConfigValue("width", singleToText(static_cast<float>(width()))); });
    resumeNext([&] { settings_.SetConfigValue("height", singleToText(static_cast<float>(height()))); });
    resumeNext([&] {
        const int z = 1 * mnuZoom100.checked() + 2 * mnuZoom200.checked() + 3 * mnuZoomFit.checked();
        settings_.SetConfigValue("zoom", std::to_string(z));
    });
    resumeNext([&] {
        for (int i = 1; i < static_cast<int>(oCaptured.size()); ++i) {
            oCaptured[i].setVisible(false);
            capturedImage[i].resize(0, 0);
        }
    });
    resumeNext([&] { frmOptions.unload(); });
    resumeNext([&] { frmError.unload(); });
}

// ---- Errors ----

void FrmMain::ShowError(std::string& sErr, int line) {
    setPlayButton(0);
    sErr += ", line " + std::to_string(line);
    msErrorMessages += sErr + "\r\n";
    frmError.ensureLoaded();
    frmError.caption = std::string(kAppTitle) + " error description";
    frmError.txtError = sErr;
    desktop_.showModal(ModalWindow::Error);
}

// ---- Options, mail ----

void FrmMain::mnuToolsOptions_Click() {
    trap("mnuToolsOptions_Click: ", [&] {
        cmdPlay.setValue(0);
        cmdPlay_Click();
        frmOptions.ensureLoaded();
        desktop_.showModal(ModalWindow::Options);
        PlayTimer.setInterval(GetFrameInterval());
        ReviewTimer.setInterval(PlayTimer.interval());
    });
}

void FrmMain::mnuHelpEmail_Click() { SendMail(desktop_, GetVersionText(), ""); }

}  // namespace velmora

// The main window: its controls, its shared state and its procedures.
//
// Every procedure runs on the one UI thread.  The window talks to the outside
// only through its ports: the player, the desktop, the settings file, the
// timer host, the rendered client area and the real window (FormView).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/form_view.h"
#include "app/live_dialogs.h"
#include "capture/client_area.h"
#include "capture/frame_files.h"
#include "capture/frame_slot.h"
#include "playback/camera_devices.h"
#include "playback/media_source.h"
#include "playback/player_port.h"
#include "settings/frm_options.h"
#include "settings/settings_port.h"
#include "support/app_info.h"
#include "support/desktop_port.h"
#include "base/errors.h"
#include "support/frm_error.h"
#include "base/timer.h"

namespace velmora {

inline constexpr int kRingSize = 50;

// The open-file dialog's filter: two entries, "Video Files " and "AllFiles (*.*)".
extern const char* const kOpenFileFilter;

// MemAvailable of the system, in bytes.
std::uint64_t availableSystemMemory();

class FrmMain {
public:
    FrmMain(TimerHost& timers, DesktopPort& desktop, PlayerPort& player, SettingsPort& settings,
            ClientAreaSource& clientArea);
    ~FrmMain();
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

    // Connects the real window; until then changes are not shown anywhere.
    void setView(FormView* view);

    // ---- Controls (design-time state set by the constructor) ----
    Control cmdPlay{Ctl::cmdPlay};
    Control cmdReview{Ctl::cmdReview};
    Control frReviewTime{Ctl::frReviewTime};
    Control lblReviewTime{Ctl::lblReviewTime};
    Control lblSpeed{Ctl::lblSpeed};
    Control SpeedScrollBar{Ctl::SpeedScrollBar};
    Control oMediaPlayer{Ctl::oMediaPlayer};
    Control lblHider{Ctl::lblHider};
    Control cmdReviewPictures{Ctl::cmdReviewPictures};
    Control mnuZoom100{Ctl::mnuZoom100};
    Control mnuZoom200{Ctl::mnuZoom200};
    Control mnuZoomFit{Ctl::mnuZoomFit};
    // oCaptured(0) is the designed element; 1..50 exist after Form_Load.
    std::vector<Control> oCaptured;
    // The persistent picture of each frame slot, indexed like oCaptured.
    std::array<FrameSlot, kRingSize + 1> capturedImage;

    Timer SplashTimer;
    Timer PlayTimer;
    Timer PauseTimer;
    Timer ReviewTimer;

    FrmOptions frmOptions;

    // ---- Window-level state ----
    long mlPlayerWidth = 0;
    long mlPlayerHeight = 0;
    long mlCapturePos = 0;
    bool mbPauseAfterCapture = false;
    long mlFrameAge = 0;
    long mlReviewDirection = 0;
    long mlRepeatDelay = 0;
    std::string msErrorMessages;

    FrmError frmError;

    // Bytes of memory the system can still give; the slots are not made
    // larger than it allows.
    std::function<std::uint64_t()> availableMemory = availableSystemMemory;

    // The user's decimal separator, for the review time label.
    std::string decimalSeparator = ".";

    // ---- The window itself ----
    const std::string& caption() const { return caption_; }
    void setCaption(const std::string& text);
    int scaleWidth() const { return clientWidth_; }
    int scaleHeight() const { return clientHeight_; }
    // Outer size in twips.
    double width() const;
    double height() const;
    void setWidth(double twips);
    void setHeight(double twips);
    WindowState windowState() const;
    void setWindowState(WindowState state);
    // The real window's client area was resized by the user or the system.
    void clientResized(int w, int h);
    // Pixels to twips and back at the window's screen resolution.
    double twipsPerPixel() const;

    // ---- Lifecycle ----
    void Form_Load(const std::string& commandLine);
    void LoadSettings();
    int CountStart();
    void ShowToolTips(bool show);
    void SplashTimer_Timer();
    void mnuFileExit_Click();
    void Form_Unload();
    bool unloaded() const { return unloaded_; }

    // ---- Layout and zoom ----
    void Form_Resize();
    void mnuZoom100_Click();
    void mnuZoom200_Click();
    void mnuZoomFit_Click();

    // ---- Opening a video ----
    void OpenMedia(const std::string& path);
    void mnuFileOpen_Click();
    void Form_OLEDragDrop(const std::vector<std::string>& files);

    // ---- Live sources: streams and cameras ----
    // Until they are set File > Open Stream and Open Camera do nothing.
    void setLiveDialogs(LiveDialogsPort* dialogs) { liveDialogs_ = dialogs; }
    // The cameras of the system.
    VideoDeviceLayer* videoDevices = &systemVideoDevices();
    // How much of a live source is kept for time-shift.
    LiveBuffer liveBuffer;
    void mnuFileOpenStream_Click();
    void mnuFileOpenCamera_Click();
    void mnuViewGoLive_Click();
    // View > Delay: the delay behind live, stored in the settings file.
    void mnuViewDelay_Click();
    // The delay behind live the settings file holds, in seconds (0: live).
    int liveDelaySetting();

    // ---- Playback control ----
    void PauseVideo();
    void PlayVideo();
    // Sets the play button's value; a real change runs cmdPlay_Click.
    void setPlayButton(int value);
    void cmdPlay_Click();
    void mnuViewPlay_Click();
    void mnuToolsBack_Click();
    void PauseTimer_Timer();
    void SpeedScrollBar_Change();
    void SpeedScrollBar_Scroll();
    void oMediaPlayer_PlayStateChange(int oldState, int newState);
    void oMediaPlayer_OpenStateChange(int oldState, int newState);
    // The video changed its size while it plays: the player, the zoom and
    // the slots follow as for a new video.
    void oMediaPlayer_VideoSizeChange();

    // ---- Frame ring and capture ----
    void PlayTimer_Timer();
    void CaptureImage();
    void SetSnapshotRegion();

    // ---- Review ----
    void ShowImage(long age);
    void ProcessReview();
    void ResetReviewButton();
    void cmdReview_MouseDown(int button, int shift, double x, double y);
    void cmdReview_MouseUp();
    void cmdReview_Click();
    void cmdReview_KeyUp();
    void ReviewTimer_Timer();
    void Form_KeyDown(int keyCode, int shift);
    void Form_KeyUp(int keyCode, int shift);
    void mnuViewPrev_Click();
    void mnuViewNext_Click();
    void oCaptured_MouseDown(int index, int button, int shift, double x, double y);

    // ---- Copy image ----
    void mnuToolsCopy_Click();

    // ---- Options, mail ----
    void mnuToolsOptions_Click();
    void mnuHelpEmail_Click();

    // ---- Frames as files ----
    // Until it is set the two commands do nothing.
    void setFrameFiles(FrameFilesPort* files) { frameFiles_ = files; }
    void mnuFileSaveFrame_Click();
    void mnuFileExportFrames_Click();
    // Slots written since the video was opened and the slots got their size.
    long capturedSinceOpen() const { return capturedSinceOpen_; }

    // ---- Help ----
    // The program folder: the FAQ page and the About box's pictures lie there.
    std::string appPath;
    void mnuHelpAbout_Click();
    void mnuHelpContent_Click();

    // ---- Errors ----
    // Reports an error of a handler: releases the play button, collects the
    // message and shows it in the error dialog.  `sErr` is the prefix and
    // description; it is extended with ", line N".
    void ShowError(std::string& sErr, int line);

    // Capture interval in milliseconds from the options dialog.
    long GetFrameInterval();


private:
    void applyClientSize(int w, int h);
    // Sizes the player to the open video at the zoom chosen.
    void fitPlayerToVideo();
    // OpenMedia's work, one open at a time.
    void openMedia(const std::string& path);
    // The options a live source is played with, and a camera's name; why it
    // cannot be opened now ("" when it can).
    std::string prepareLive(const MediaSource& source, std::vector<PlayerOption>& options, std::string& cameraName);
    // Moves the keyboard focus; raises an error when the control cannot take it.
    void focusControl(Control& control, SourceLocation where = SourceLocation::current());
    // The trap of a procedure that reports through ShowError: runs its body;
    // an error ends it with "prefix" + description.
    template <typename F>
    void trap(const char* prefix, F&& body) {
        reportErrors(prefix, [this](std::string message, int line) { ShowError(message, line); },
                     std::forward<F>(body));
    }
    // The slot that shows frame `age` (1..50).
    long slotOfAge(long age) const;
    // "<folder>/<video name> <suffix>": in the video's folder, or in the
    // pictures folder when that cannot be written.
    std::string proposedFramePath(const std::string& suffix);

    DesktopPort& desktop_;
    PlayerPort& player_;
    SettingsPort& settings_;
    ClientAreaSource& clientArea_;
    FormView* view_ = nullptr;
    FrameFilesPort* frameFiles_ = nullptr;
    LiveDialogsPort* liveDialogs_ = nullptr;
    long capturedSinceOpen_ = 0;
    // A live source that shows no new picture for this long while it plays
    // is not captured until it does (see liveStalled()).
    static constexpr std::int64_t kStallMs = 500;
    long long picturesAtTick_ = -1;
    long stalledTicks_ = 0;
    bool liveStalled();
    bool busyWithFiles_ = false;  // a save or export dialog is open

    std::string caption_;
    int clientWidth_ = 592;
    int clientHeight_ = 551;
    WindowState windowState_ = WindowState::Normal;
    bool unloaded_ = false;
    bool opening_ = false;
    std::optional<std::string> pendingOpen_;
    // A slot size was refused for want of memory, and none taken since.
    bool slotsRefused_ = false;
};

}  // namespace velmora

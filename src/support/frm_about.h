// The About box: names the program and teaches the review gesture with a
// small animation on Timer1 (one step a second, 11 steps a cycle).
//
// A new FrmAbout is made for every showing, so each showing starts afresh
// from Form_Load; destroying it stops Timer1.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/controls.h"
#include "support/desktop_port.h"
#include "base/timer.h"

namespace velmora {

// What the About box's procedures ask of the real dialog.
class AboutView {
public:
    virtual ~AboutView() = default;
    // Loads the picture file into oFrame, which takes the picture's size.
    // Throws AppError when the file is missing or is no picture.
    virtual void loadFramePicture(const std::string& path) = 0;
    // Something shown changed (caption, images, icons, disclaimer).
    virtual void aboutChanged() = 0;
    // Closes the dialog.
    virtual void unload() = 0;
    // Gives the keyboard focus to the dialog itself.
    virtual void focusForm() = 0;
};

// The line under the little window, scrambled; Form_Load unscrambles it.
extern const char* const kDisclaimerScrambled;

class FrmAbout {
public:
    // `programFolder` holds the demo pictures 0.gif to 5.gif.
    FrmAbout(TimerHost& timers, DesktopPort& desktop, AboutView& view, std::string programFolder);
    FrmAbout(const FrmAbout&) = delete;
    FrmAbout& operator=(const FrmAbout&) = delete;

    // ---- What the box shows ----
    const std::string& caption() const { return caption_; }
    const std::string& disclaimer() const { return disclaimer_; }
    // The review button image in oButtonImage.
    ReviewPicture buttonImage() const { return buttonImage_; }
    bool leftMouseVisible() const { return leftMouse_; }
    bool rightMouseVisible() const { return rightMouse_; }

    Timer Timer1;

    // Number of the demo frame shown (0..5) and the animation's direction
    // (+1 forward, -1 back, 0 rest).
    std::int16_t miFrame = 0;
    std::int16_t miStep = 0;

    void Form_Load();
    void Form_Activate();
    void Form_KeyDown(int keyCode, int shift);
    void cmdOK_Click();
    void Timer1_Timer();

private:
    void LoadFrameImage(const std::int16_t& frame);
    void showDirection();
    void unload();

    DesktopPort& desktop_;
    AboutView& view_;
    std::string folder_;
    std::string caption_ = "About MyApp";
    std::string disclaimer_;
    ReviewPicture buttonImage_ = kReviewIdle;
    bool leftMouse_ = false;
    bool rightMouse_ = false;
};

}  // namespace velmora

// What the main window's procedures ask of the real window.
#pragma once

#include <string>

#include "app/controls.h"

namespace velmora {

enum class WindowState { Normal = 0, Minimized = 1, Maximized = 2 };

// The parts of the window outside its client area, in pixels: borders, caption
// and menu bar.  The outer size is the client size plus these.
struct NonClientSize {
    int width = 0;
    int height = 0;
};

// A client area's size in pixels.
struct ClientSize {
    int width = 0;
    int height = 0;
};

class FormView : public ViewSink {
public:
    // The logical dots per inch of the window's screen (96 at normal size).
    virtual int dotsPerInch() const = 0;
    virtual NonClientSize nonClientSize() const = 0;
    // Resizes the real window so that its client area is w x h pixels.
    virtual void setClientSize(int w, int h) = 0;
    // The largest client area whose window fits the available area of its
    // screen; 0 for a side without a known limit.
    virtual ClientSize largestClientSize() const { return {}; }
    // Whether the window manager keeps the window at a size of its own rather
    // than the one asked last (a tiling compositor does): the client area is
    // then the size the window got.
    virtual bool sizeKept() const { return false; }
    virtual WindowState windowState() const = 0;
    virtual void setWindowState(WindowState state) = 0;
    virtual void setCaption(const std::string& caption) = 0;
    // Puts what the controls show now on the screen at once, instead of when
    // the window next gets round to it (a review step).
    virtual void showNow() {}
    // A source that may take seconds to open (a stream, a camera) is opened
    // with the window on the screen: shows it now, if it is not shown yet.
    virtual void showBeforeOpening() {}
    // Moves the keyboard focus to a control that is visible and enabled.
    virtual void setFocus(Ctl control) = 0;
    // Closes the window; the view then calls Form_Unload once.
    virtual void unload() = 0;
};

}  // namespace velmora

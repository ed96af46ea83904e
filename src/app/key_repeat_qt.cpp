#include <QGuiApplication>

#include "app/main_window.h"

// Xlib last: its macros (KeyPress, None, Bool...) would shadow Qt's names.
#include <X11/XKBlib.h>

namespace velmora {

bool heldKeysRepeatAsUnmarkedPairs() {
    const QString platform = QGuiApplication::platformName();
    // Qt makes Wayland's repeats itself, each marked as one.
    if (platform.startsWith(QLatin1String("wayland"))) return false;
    if (platform != QLatin1String("xcb")) return true;
    // The X server repeats a held key as a release and a press, which Qt
    // marks as a repeat only when the press has already arrived. With the
    // keyboard extension's detectable auto-repeat, a per-client flag set
    // here on Qt's own connection, it sends the presses alone.
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return true;
    Bool supported = False;
    return !XkbSetDetectableAutoRepeat(display, True, &supported) || !supported;
}

}  // namespace velmora

// The memory a widget's window is painted into.
#pragma once

#include <QBackingStore>
#include <QImage>
#include <QWidget>
#include <QWindow>

namespace velmora {

// Set while widgets are rendered into memory of our own (render()).  The
// Wayland store has no memory before the window's first paint, and asking it
// then fails: only a paint of the window itself asks.
inline thread_local int renderingElsewhere = 0;

struct RenderingElsewhere {
    RenderingElsewhere() { ++renderingElsewhere; }
    ~RenderingElsewhere() { --renderingElsewhere; }
    RenderingElsewhere(const RenderingElsewhere&) = delete;
    RenderingElsewhere& operator=(const RenderingElsewhere&) = delete;
};

// The window's backing store as an image; null when it paints elsewhere, or
// while the window has no platform window (not shown yet, or closed), where
// the Wayland store cannot be asked for its memory either.
inline QImage* windowStoreImage(QWidget* widget) {
    if (renderingElsewhere) return nullptr;
    const QWindow* shown = widget->window()->windowHandle();
    QBackingStore* store = shown && shown->handle() ? widget->backingStore() : nullptr;
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    return device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
}

}  // namespace velmora

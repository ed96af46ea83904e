// The rendered picture of the main window's client area, as the user sees it.
#pragma once

#include "capture/frame_slot.h"

namespace velmora {

class ClientAreaSource {
public:
    virtual ~ClientAreaSource() = default;
    // Suspends (true) or resumes (false) repainting of the main window.
    virtual void lockWindowUpdate(bool locked) = 0;
    // Copies w x h pixels of the client area at (sx, sy) into `slot` at
    // (dx, dy), clipped to the slot.  Allocates nothing.
    virtual void copyTile(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy) = 0;
};

}  // namespace velmora

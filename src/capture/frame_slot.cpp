#include "capture/frame_slot.h"

#include <algorithm>

namespace velmora {

void FrameSlot::resize(int w, int h) {
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    if (w == width && h == height) return;
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (n > capacity_) {
        pixels = std::make_unique_for_overwrite<Pixel[]>(n);
        capacity_ = n;
    } else if (n == 0) {
        pixels.reset();
        capacity_ = 0;
    }
    width = w;
    height = h;
    std::fill_n(pixels.get(), n, kSlotBackground);
}

}  // namespace velmora

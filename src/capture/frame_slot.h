// One slot of the frame ring: a persistent picture of the slot size.
#pragma once

#include <cstdint>
#include <memory>

namespace velmora {

// 32-bit pixels 0xffRRGGBB (the layout of QImage::Format_RGB32).
using Pixel = std::uint32_t;

// The window background the slots are cleared to (light grey, as the window).
inline constexpr Pixel kSlotBackground = 0xfff0f0f0u;

struct FrameSlot {
    int width = 0;
    int height = 0;
    std::unique_ptr<Pixel[]> pixels;  // width * height pixels, rows of `width`

    int stride() const { return width * static_cast<int>(sizeof(Pixel)); }
    std::size_t bytes() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(Pixel);
    }
    Pixel* row(int y) { return pixels.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width); }
    const Pixel* row(int y) const {
        return pixels.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    }

    // Makes the slot w x h, cleared to the background.  Every page is written
    // here, so that a later capture never pays for first-touch page faults.
    // The buffer is kept when it is large enough (a window being dragged to
    // another size does not reallocate at every step).
    void resize(int w, int h);

private:
    std::size_t capacity_ = 0;
};

}  // namespace velmora

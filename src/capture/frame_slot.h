// One slot of the frame ring: a persistent picture of the slot size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// 32-bit pixels 0xffRRGGBB (the layout of QImage::Format_RGB32).
using Pixel = std::uint32_t;

// The window background the slots are cleared to (light grey, as the window).
inline constexpr Pixel kSlotBackground = 0xfff0f0f0u;

// Gives a slot's pages back to the system.
struct SlotUnmap {
    std::size_t bytes = 0;
    void operator()(Pixel* pixels) const;
};

// Whether pages of new slots are still to be mapped in ahead of their first
// write (a thread of its own does that once the captures into them have begun
// and the slots keep their size).
bool slotPagesPending();

struct FrameSlot {
    int width = 0;
    int height = 0;
    // Room for width * height pixels, rows of `width`; null at size 0.  After
    // a resize they belong to no picture until settle() clears them.
    std::unique_ptr<Pixel[], SlotUnmap> pixels;

    int stride() const { return width * static_cast<int>(sizeof(Pixel)); }
    std::size_t bytes() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(Pixel);
    }
    Pixel* row(int y) { return pixels.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width); }
    const Pixel* row(int y) const {
        return pixels.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    }

    // Makes the slot w x h, to be cleared to the background by settle()
    // before it is written or shown.  Writes no pixel, so that a window being
    // dragged through many sizes costs next to nothing per size.  Memory
    // follows the size both ways: a larger slot takes room for a little more
    // growth, a smaller one gives back what it no longer needs.  Throws
    // std::bad_alloc when the memory cannot be had.
    void resize(int w, int h);
    // Clears a slot resized since it was last settled; only outside the
    // top-left coveredWidth x coveredHeight pixels when the caller writes
    // all of those at once.
    void settle(int coveredWidth = 0, int coveredHeight = 0);
    bool settled() const { return !blank_; }
    // Bytes of memory the slot's pixels occupy now: written, or mapped in
    // ahead of the captures.
    std::size_t heldBytes() const;

private:
    std::size_t mapped_ = 0;    // bytes reserved for the pixels
    std::size_t resident_ = 0;  // bytes of them written since they were last given back
    bool blank_ = false;
};

}  // namespace velmora

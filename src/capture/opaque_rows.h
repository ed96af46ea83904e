// Copying rows of pixels into a slot: every pixel leaves opaque, and the
// stores are the kind this machine writes a slot of this size fastest with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "capture/frame_slot.h"

namespace velmora {

// How the copy writes a slot.
enum class SlotStores {
    // Ordinary stores through the cache: best while the slots stay in it,
    // and on CPUs that fetch a line for a store about as fast as they write
    // it to memory.
    Cached,
    // Non-temporal stores straight to memory: no line of the slot is read
    // first, and the decoder's data stays in the cache.
    Streamed,
};
inline constexpr int kSlotStoreKinds = 2;

// Copies `rows` rows of `width` pixels from `from` (`fromStride` bytes from
// one row to the next) to `to` (`toStride` pixels apart), with the alpha byte
// of every pixel set: the player's pictures leave it 0, which a compositor
// that honours alpha shows as a hole.  Any alignment on either side.
void copyOpaqueRows(Pixel* to, std::size_t toStride, const std::uint8_t* from, std::size_t fromStride, int width,
                    int rows, SlotStores stores);

// Which stores the captures of one slot size use, found by timing the
// captures themselves: once a ring's worth of captures has been written at
// that size (the first write of a slot after a resize finds it freshly cleared,
// in the cache), the next ones take either kind in turn, and the kind with the
// shorter best time is kept until the size changes.  Every machine gets the
// stores that are fastest on it, under its own load: which kind wins depends on
// the CPU (how it fetches lines for stores, its cache) and the slot's size.
class SlotStoreChoice {
public:
    static constexpr int kWarmCaptures = 50;  // the ring's length
    static constexpr int kTrialsEach = 4;

    // The stores for the next capture into slots of `bytes`.
    SlotStores next(std::size_t bytes);
    // The time that capture's copies took.
    void took(double microseconds);
    // The stores kept for the current size (Cached until the choice is made).
    SlotStores kept() const { return kept_; }
    // Whether the choice for the current size is made.
    bool chosen() const { return captures_ >= kWarmCaptures + kTrialsEach * kSlotStoreKinds; }

private:
    std::size_t bytes_ = 0;
    int captures_ = 0;
    SlotStores current_ = SlotStores::Cached;
    SlotStores kept_ = SlotStores::Cached;
    std::array<double, kSlotStoreKinds> best_{};
};

}  // namespace velmora

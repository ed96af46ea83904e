#include "capture/frame_slot.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

namespace velmora {
namespace {

std::size_t pageRounded(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

// A slot's own mapping, not the heap's: unmapping it gives the pages back at
// once, where freed heap blocks can stay with the process.
std::size_t withRoom(std::size_t bytes) { return pageRounded(bytes + bytes / 8); }

// What a slot may keep beyond its room before it gives memory back: a window
// dragged to and fro does not remap at every size, and fifty slots keep at
// most 100 MB more than they need.
constexpr std::size_t kSlack = std::size_t{2} << 20;

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

}  // namespace

void SlotUnmap::operator()(Pixel* pixels) const {
    if (pixels) munmap(pixels, bytes);
}

void FrameSlot::resize(int w, int h) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == width && h == height) return;
    const std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
    if (need == 0) {
        pixels.reset();
        mapped_ = resident_ = 0;
    } else if (need > mapped_ || mapped_ > withRoom(need) + kSlack) {
        const std::size_t size = withRoom(need);
        // The pixels need not be kept: the old pages go back before the new
        // ones are asked for.  (Not mremap: the advice below splits the
        // mapping, and mremap takes one piece only.)
        pixels.reset();
        mapped_ = resident_ = 0;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        // Slots are megabytes written whole: in 2 MB pages the first capture
        // into each faults 512 times less, which took half the time of that
        // first write in a virtual machine (where a fault is dear), and the
        // copies miss the TLB less.  Only the 2 MB pages that lie wholly
        // within the pixels: one past them would hold memory never written.
        const auto first = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) / kHugePage * kHugePage;
        const auto end = (reinterpret_cast<std::uintptr_t>(p) + need) / kHugePage * kHugePage;
        if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
        pixels = std::unique_ptr<Pixel[], SlotUnmap>(static_cast<Pixel*>(p), SlotUnmap{size});
        mapped_ = size;
    }
    width = w;
    height = h;
    blank_ = need > 0;
}

void FrameSlot::settle(int coveredWidth, int coveredHeight) {
    if (!blank_) return;
    coveredWidth = std::clamp(coveredWidth, 0, width);
    coveredHeight = std::clamp(coveredHeight, 0, height);
    for (int y = 0; y < height; ++y) {
        const int from = y < coveredHeight ? coveredWidth : 0;
        std::fill(row(y) + from, row(y) + width, kSlotBackground);
    }
    resident_ = std::max(resident_, pageRounded(bytes()));
    blank_ = false;
}

}  // namespace velmora

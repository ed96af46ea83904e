// The frame ring: the capture tick, the grab, and the slots' size.
#include <algorithm>
#include <fstream>
#include <limits>

#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

std::uint64_t availableSystemMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string name;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> name >> kib >> unit)
        if (name == "MemAvailable:") return kib * 1024;
    return std::numeric_limits<std::uint64_t>::max();  // unknown: do not hold back
}

long FrmMain::slotOfAge(long age) const {
    long k = mlCapturePos + age;
    if (k > kRingSize) k -= kRingSize;
    return k;
}

void FrmMain::PlayTimer_Timer() {
    if (mbPauseAfterCapture) {
        resumeNext([&] { PauseVideo(); });
        resumeNext([&] { PlayTimer.setEnabled(false); });
        mbPauseAfterCapture = false;
    } else if (SpeedScrollBar.value() != 0) {
        // PauseTimer first: the pause that follows is then a slow-speed hold.
        resumeNext([&] { PauseTimer.setEnabled(true); });
        resumeNext([&] { PauseVideo(); });
    }
    resumeNext([&] {
        if (!player_.liveHeld() && !liveStalled()) CaptureImage();
    });
}

bool FrmMain::liveStalled() {
    // A live source's last picture stays on the screen for seconds before
    // its loss is noticed: without this, copies of it would push the frames
    // before the loss, the ones worth looking at again, out of the ring.
    // Counted in ticks, which come only while the video plays.
    const long long shown = player_.live() ? player_.picturesShown() : -1;
    if (shown < 0 || shown != picturesAtTick_) {
        picturesAtTick_ = shown;
        stalledTicks_ = 0;
        return false;
    }
    ++stalledTicks_;
    return static_cast<std::int64_t>(stalledTicks_) * PlayTimer.interval() > kStallMs;
}

void FrmMain::CaptureImage() {
    trap("CaptureImage: ", [&] {
        try {
            clientArea_.lockWindowUpdate(true);
            const double W = oMediaPlayer.width(), H = oMediaPlayer.height();
            const double L = oMediaPlayer.left(), T = oMediaPlayer.top();
            const std::int32_t tw = toInt32(W / 5), th = toInt32(H / 5);
            if (mlCapturePos < 1 || mlCapturePos > kRingSize) RAISE_ERROR("Subscript out of range");
            FrameSlot& slot = capturedImage[static_cast<std::size_t>(mlCapturePos)];
            slot.settle(mul32(5, tw), mul32(5, th));  // what the tiles leave shows the background
            for (int r = 0; r < 5; ++r) {
                for (int c = 0; c < 5; ++c) {
                    const std::int32_t dx = mul32(c, tw), dy = mul32(r, th);
                    clientArea_.copyTile(slot, dx, dy, tw, th, toInt32(L + dx), toInt32(T + dy));
                }
            }
            clientArea_.lockWindowUpdate(false);
            if (--mlCapturePos < 1) mlCapturePos = kRingSize;
            capturedSinceOpen_ = std::min<long>(capturedSinceOpen_ + 1, kRingSize);
        } catch (...) {
            // The window's drawing is never left locked.
            resumeNext([&] { clientArea_.lockWindowUpdate(false); });
            throw;
        }
    });
}

void FrmMain::SetSnapshotRegion() {
    trap("SetSnapshotRegion: ", [&] {
        if (oCaptured.size() <= static_cast<std::size_t>(kRingSize)) return;  // slots not created yet
        const std::int32_t w = toInt32(oMediaPlayer.width());
        const std::int32_t h = oMediaPlayer.height() > 70 ? toInt32(oMediaPlayer.height() - 70) : 0;
        // Every slot is looked at, not only the first: a resize that failed
        // half-way (out of memory) is completed by the next one.
        std::uint64_t held = 0;
        bool same = true;
        for (int i = 1; i <= kRingSize; ++i) {
            same = same && toInt16(oCaptured[i].height()) == h && toInt16(oCaptured[i].width()) == w;
            held += capturedImage[i].heldBytes();
        }
        if (same) {
            slotsRefused_ = false;
            return;
        }
        // Fifty frames of a large player take gigabytes: rather than let the
        // system end the program, say so and keep the slots as they are.
        const std::uint64_t needed = static_cast<std::uint64_t>(kRingSize) * static_cast<std::uint64_t>(w) *
                                     static_cast<std::uint64_t>(h) * sizeof(Pixel);
        if (needed > held && needed - held > availableMemory() / 10 * 8) {
            // Told once, not at every size a dragged window passes through.
            if (slotsRefused_) return;
            slotsRefused_ = true;
            RAISE_ERROR("Not enough memory to keep " + std::to_string(kRingSize) + " frames of " + std::to_string(w) +
                        " x " + std::to_string(h) + " pixels");
        }
        slotsRefused_ = false;
        capturedSinceOpen_ = 0;  // the slots are cleared
        for (int i = 1; i <= kRingSize; ++i) {
            capturedImage[i].resize(w, h);
            oCaptured[i].setWidth(w);
            oCaptured[i].setHeight(h);
        }
    });
}

}  // namespace velmora

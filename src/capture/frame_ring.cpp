// The frame ring: the capture tick, the grab, and the slots' size.
#include "app/frm_main.h"
#include "support/convert.h"
#include "support/errors.h"

namespace velmora {

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
    resumeNext([&] { CaptureImage(); });
}

void FrmMain::CaptureImage() {
    try {
        clientArea_.lockWindowUpdate(true);
        const double W = oMediaPlayer.width(), H = oMediaPlayer.height();
        const double L = oMediaPlayer.left(), T = oMediaPlayer.top();
        const std::int32_t tw = toInt32(W / 5), th = toInt32(H / 5);
        if (mlCapturePos < 1 || mlCapturePos > kRingSize) RAISE_ERROR("Subscript out of range");
        FrameSlot& slot = capturedImage[static_cast<std::size_t>(mlCapturePos)];
        for (int r = 0; r < 5; ++r) {
            for (int c = 0; c < 5; ++c) {
                const std::int32_t dx = mul32(c, tw), dy = mul32(r, th);
                clientArea_.copyTile(slot, dx, dy, tw, th, toInt32(L + dx), toInt32(T + dy));
            }
        }
        clientArea_.lockWindowUpdate(false);
        if (--mlCapturePos < 1) mlCapturePos = kRingSize;
    } catch (const std::exception& e) {
        resumeNext([&] { clientArea_.lockWindowUpdate(false); });
        reportError("CaptureImage: ", e);
    }
}

void FrmMain::SetSnapshotRegion() {
    try {
        if (oCaptured.size() <= static_cast<std::size_t>(kRingSize)) return;  // slots not created yet
        const std::int32_t w = toInt32(oMediaPlayer.width());
        const std::int32_t h = oMediaPlayer.height() > 70 ? toInt32(oMediaPlayer.height() - 70) : 0;
        if (toInt16(oCaptured[1].height()) == h && toInt16(oCaptured[1].width()) == w) return;
        for (int i = 1; i <= kRingSize; ++i) {
            capturedImage[i].resize(w, h);
            oCaptured[i].setWidth(w);
            oCaptured[i].setHeight(h);
        }
    } catch (const std::exception& e) {
        reportError("SetSnapshotRegion: ", e);
    }
}

}  // namespace velmora

// Edit > Copy Image: the shown frame, or the newest capture, to the clipboard.
#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

void FrmMain::mnuToolsCopy_Click() {
    trap("mnuToolsCopy_Click: ", [&] {
        desktop_.clipboardClear();
        if (oMediaPlayer.visible()) {
            int k = toInt16(mlCapturePos + 1);
            if (k > kRingSize) k = 1;
            capturedImage[static_cast<std::size_t>(k)].settle();
            desktop_.clipboardSetImage(capturedImage[static_cast<std::size_t>(k)]);
        } else {
            for (int i = 1; i < static_cast<int>(oCaptured.size()); ++i)
                if (oCaptured[static_cast<std::size_t>(i)].visible()) {
                    capturedImage[static_cast<std::size_t>(i)].settle();
                    desktop_.clipboardSetImage(capturedImage[static_cast<std::size_t>(i)]);
                }
        }
    });
}

}  // namespace velmora

// Sizing the player after every change of the window, and the zoom commands.
#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

namespace {

// Outer size in twips per client pixel; a client area of zero size has none.
double outerPerClient(double outerTwips, int clientPixels,
                      SourceLocation where = SourceLocation::current()) {
    if (clientPixels == 0) raiseError(kErrDivisionByZero, where);
    return outerTwips / clientPixels;
}

}  // namespace

void FrmMain::Form_Resize() {
    trap("Form_Resize: ", [&] {
        std::int32_t w = 0, h = 0;
        if (mnuZoom100.checked()) {
            h = toInt32(mlPlayerHeight);
            w = toInt32(mlPlayerWidth);
        } else if (mnuZoom200.checked()) {
            h = add32(mul32(2, mlPlayerHeight), -40);
            w = mul32(2, mlPlayerWidth);
        }
        // A zoomed player that no window on this screen can hold is sized
        // like Fit, in the largest window there is; so is one in a window
        // that the window manager keeps at a size of its own.
        const ClientSize most = view_ ? view_->largestClientSize() : ClientSize{};
        const bool fits = (most.width <= 0 || oMediaPlayer.left() + w <= most.width) &&
                          (most.height <= 0 || oMediaPlayer.top() + h <= most.height) &&
                          !(view_ && view_->sizeKept());
        if ((mnuZoom100.checked() || mnuZoom200.checked()) && fits) {
            oMediaPlayer.setHeight(h);
            oMediaPlayer.setWidth(w);
        } else {
            if (oMediaPlayer.top() < scaleHeight()) oMediaPlayer.setHeight(scaleHeight() - oMediaPlayer.top());
            if (oMediaPlayer.left() < scaleWidth()) oMediaPlayer.setWidth(scaleWidth() - oMediaPlayer.left());
        }
        lblHider.setTop(static_cast<float>(oMediaPlayer.height() + oMediaPlayer.top() - 50));
        SetSnapshotRegion();
        ShowImage(0);
    });
}

void FrmMain::mnuZoom100_Click() {
    trap("mnuZoom100_Click: ", [&] {
        setWindowState(WindowState::Normal);
        mnuZoom100.setChecked(true);
        mnuZoom200.setChecked(false);
        mnuZoomFit.setChecked(false);
        const double h = (oMediaPlayer.top() + mlPlayerHeight) * outerPerClient(height(), scaleHeight());
        setHeight(static_cast<float>(h));
        const double w = (oMediaPlayer.left() + mlPlayerWidth) * outerPerClient(width(), scaleWidth());
        setWidth(w < 5000 ? 5000.0f : static_cast<float>(w));
    });
}

void FrmMain::mnuZoom200_Click() {
    trap("mnuZoom200_Click: ", [&] {
        setWindowState(WindowState::Normal);
        mnuZoom100.setChecked(false);
        mnuZoom200.setChecked(true);
        mnuZoomFit.setChecked(false);
        const double w = (oMediaPlayer.left() + mul32(2, mlPlayerWidth)) * outerPerClient(width(), scaleWidth());
        setWidth(static_cast<float>(w));
        const double h = (oMediaPlayer.top() + add32(mul32(2, mlPlayerHeight), -74)) *
                         outerPerClient(height(), scaleHeight());
        setHeight(static_cast<float>(h));
    });
}

void FrmMain::mnuZoomFit_Click() {
    mnuZoom100.setChecked(false);
    mnuZoom200.setChecked(false);
    mnuZoomFit.setChecked(true);
    Form_Resize();
}

}  // namespace velmora

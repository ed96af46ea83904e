// The window's size as the window manager gives it, and a review step put
// on the screen at once.
#include <QApplication>
#include <QResizeEvent>
#include <xcb/xcb.h>

#include "app/frm_main.h"
#include "app/main_window.h"

namespace velmora {

namespace {

// How long the window manager has to give a newly shown window its first size.
constexpr int kFirstSizeMs = 5000;

}  // namespace

void MainWindow::judgeGivenSize() {
    // A maximized or minimized window has the size of its state.
    const bool kept = !(QWidget::windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) &&
                      size() != askedSize_;
    if (kept == sizeKept_) return;
    sizeKept_ = kept;
    if (frm_) frm_->Form_Resize();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!event->spontaneous()) return;
    // The first size the window manager gives a newly shown window answers
    // the size asked before it was shown.
    if (firstSize_.isValid()) {
        const bool answer = firstSize_.elapsed() < kFirstSizeMs && !answerTimer_.isActive();
        firstSize_.invalidate();
        if (answer) return judgeGivenSize();
    }
    // A Wayland compositor tells the window every size it gives it, also when
    // it tiles a floating window or floats a tiled one: a size the window did
    // not ask for is one the compositor keeps it at.  A window floated again
    // is given back the size it was first shown at: its own, and the zoom's
    // size is asked once more.
    if (!shown_ || answerTimer_.isActive() ||
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    const bool wasKept = sizeKept_;
    if (size() == shownSize_) askedSize_ = size();
    judgeGivenSize();
    if (frm_ && wasKept && !sizeKept_) {
        if (frm_->mnuZoom100.checked()) frm_->mnuZoom100_Click();
        if (frm_->mnuZoom200.checked()) frm_->mnuZoom200_Click();
    }
}

// A review step is painted and handed to the X server before the handler of
// its key or timer returns, not when the event loop next delivers the
// window's update request, after whatever else it has queued.
void MainWindow::showNow() {
    for (int i = 1; i <= kRingSize; ++i)
        if (QWidget* w = widgetOf(Ctl::oCaptured, i); w && w->isVisible()) {
            // A widget just shown has its update posted; taken now, the frame
            // is painted once.
            QCoreApplication::sendPostedEvents(w, QEvent::UpdateLater);
            // Whole rows of the window: the X server copies a picture of whole
            // rows of its shared memory in one go, and part of each row by way
            // of a pixmap, which took twice as long at 1080p.
            const QRect rows(0, w->mapTo(this, QPoint(0, 0)).y(), width(), w->height());
            repaint(rows);
            // Qt hands its requests to the X server when the event loop next
            // waits, which is after the next paint's: this one goes now.
            auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
            if (x11 && x11->connection()) xcb_flush(x11->connection());
            return;
        }
}

}  // namespace velmora

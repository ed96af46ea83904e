// The window's keys: the codes the keyboard procedures know, and every key
// event passed through the key filter to them.
#include <QKeyEvent>

#include "app/frm_main.h"
#include "app/main_window.h"

namespace velmora {

int keyCodeOf(int k) {
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return k;         // 65..90
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return k;         // 48..57
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return 112 + (k - Qt::Key_F1);
    switch (k) {
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Shift: return 16;
        case Qt::Key_Control: return 17;
        case Qt::Key_Alt:
        case Qt::Key_AltGr: return 18;
        case Qt::Key_Pause: return 19;
        case Qt::Key_CapsLock: return 20;
        case Qt::Key_Escape: return 27;
        case Qt::Key_Space: return 32;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        case Qt::Key_Print: return 44;
        case Qt::Key_Insert: return 45;
        case Qt::Key_Delete: return 46;
        case Qt::Key_Meta: return 91;
        case Qt::Key_Menu: return 93;
        case Qt::Key_NumLock: return 144;
        case Qt::Key_ScrollLock: return 145;
        default: return 255;  // any other key: none of the codes above
    }
}

int shiftMaskOf(Qt::KeyboardModifiers m) {
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

// ---- Key events to procedures ----

bool MainWindow::handleKey(QWidget* receiver, QKeyEvent* event) {
    if (!frm_) return false;
    if (receiver->window() != this) {
        // A menu or a dialog has the key now; its release is not ours to see.
        deliverKeys(keys_.takenElsewhere(event->key()));
        return false;
    }
    // An event the focused control did not take travels on to its parents;
    // the window has seen it already.
    if (event == keyEvent_ && event->type() == keyType_ && event->key() == keyKey_ &&
        event->timestamp() == keyTime_ && keyReceiver_ && keyReceiver_ != receiver &&
        receiver->isAncestorOf(keyReceiver_))
        return false;
    keyEvent_ = event;
    keyReceiver_ = receiver;
    keyType_ = event->type();
    keyKey_ = event->key();
    keyTime_ = event->timestamp();

    const int code = keyCodeOf(event->key());
    const bool windowKey = code == key::F4 || code == key::F5 || code == key::F6;
    const KeyFilter::Kind kind = event->type() == QEvent::ShortcutOverride ? KeyFilter::Kind::Offer
                                 : event->type() == QEvent::KeyPress       ? KeyFilter::Kind::Press
                                                                           : KeyFilter::Kind::Release;
    const KeyFilter::Result r =
        keys_.take({kind, event->key(), event->timestamp(), event->isAutoRepeat(), shiftMaskOf(event->modifiers())});
    if (r.wait)
        releaseTimer_.start(KeyFilter::kPairWaitMs);
    else if (!keys_.waiting())
        releaseTimer_.stop();
    deliverKeys(r.actions);

    if (kind == KeyFilter::Kind::Offer) {
        // Every press is offered to the shortcuts before it is delivered. A
        // repeat is kept from them: taken here, it is delivered as a key
        // press and passed over, so a held F7 plays or pauses once.
        if (r.repeat) event->accept();
        return r.repeat;
    }
    // A release marked as a repeat goes no further; F4, F5 and F6 belong to
    // the window alone.
    return (kind == KeyFilter::Kind::Release && event->isAutoRepeat()) || windowKey;
}

void MainWindow::deliverKeys(const std::vector<KeyAction>& actions) {
    keyQueue_.insert(keyQueue_.end(), actions.begin(), actions.end());
    if (deliveringKeys_) return;  // the delivery under way passes them on in turn
    deliveringKeys_ = true;
    while (!keyQueue_.empty() && frm_) {
        const KeyAction a = keyQueue_.front();
        keyQueue_.pop_front();
        if (a.down)
            frm_->Form_KeyDown(keyCodeOf(a.key), a.shift);
        else
            frm_->Form_KeyUp(keyCodeOf(a.key), a.shift);
    }
    deliveringKeys_ = false;
}

}  // namespace velmora

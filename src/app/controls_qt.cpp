// The main window's own controls: the frame slots and the review button.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <array>

#include "app/images.h"
#include "app/main_window.h"
#include "capture/slot_paint.h"

namespace velmora {

namespace {

int buttonCode(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton: return mouse::Left;
        case Qt::RightButton: return mouse::Right;
        case Qt::MiddleButton: return mouse::Middle;
        default: return 0;
    }
}

}  // namespace

// ---- SlotView ----

SlotView::SlotView(int index, QWidget* parent) : QWidget(parent), index_(index) {
    setObjectName(QStringLiteral("oCaptured"));
    setProperty("index", index);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SlotView::setIndex(int index) {
    index_ = index;
    setProperty("index", index);
}

void SlotView::setFrameSlot(const FrameSlot* slot) {
    slot_ = slot;
    update();
}

void SlotView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    QRect picture;
    if (slot_ && slot_->pixels && slot_->settled() && slot_->width > 0 && slot_->height > 0) {
        picture = QRect(0, 0, slot_->width, slot_->height);
        paintSlot(p, this, event->region(), *slot_);
    }
    // Whatever the picture does not cover shows the window background.
    const QRegion rest = QRegion(event->rect()).subtracted(QRegion(picture));
    for (const QRect& r : rest) p.fillRect(r, palette().window());
}

void SlotView::mousePressEvent(QMouseEvent* event) {
    const int b = buttonCode(event->button());
    if (b && onMouseDown) onMouseDown(b, shiftMaskOf(event->modifiers()), event->position().toPoint());
}

// ---- ReviewButton ----

ReviewButton::ReviewButton(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("cmdReview"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ReviewButton::setPicture(int which) {
    if (which < kReviewIdle || which > kReviewBack) which = kReviewIdle;
    if (which == picture_) return;
    picture_ = which;
    // Repainted after the frame of the review step the key shows: painted
    // with it, the button's rectangle, still being put on the screen from its
    // last paint, would make Qt wait for the X server first.
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void ReviewButton::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        p.fillRect(contentsRect(), QColor(192, 192, 192));
        static const std::array<QImage, 3> images{reviewImage(kReviewIdle), reviewImage(kReviewForward),
                                                  reviewImage(kReviewBack)};
        p.drawImage(contentsRect().topLeft(), images[static_cast<std::size_t>(picture_)]);
    }
    QFrame::paintEvent(event);  // the sunken border
}

void ReviewButton::mousePressEvent(QMouseEvent* event) {
    const int b = buttonCode(event->button());
    if (!b) return;
    down_ |= event->button();
    if (onMouseDown)
        onMouseDown(b, shiftMaskOf(event->modifiers()), event->position().toPoint() - contentsRect().topLeft());
}

void ReviewButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!buttonCode(event->button())) return;
    const bool wasDown = down_.testFlag(event->button());
    down_ &= ~event->button();
    if (onMouseUp) onMouseUp();
    // A click is a left or right press and release over the button.
    const bool clickButton = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
    if (wasDown && clickButton && rect().contains(event->position().toPoint()) && onClick) onClick();
}

void ReviewButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;
    if (onKeyUp) onKeyUp();
}

}  // namespace velmora

#include <QPainter>
#include <QRegion>
#include <chrono>

#include "base/qt_window_store.h"
#include "capture/qt_client_area.h"

namespace velmora {

namespace {

bool copyableFormat(const QImage& image) {
    switch (image.format()) {
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_ARGB32_Premultiplied:
            return true;
        default:
            return false;
    }
}

}  // namespace

QtClientArea::QtClientArea(QWidget* clientArea, QWidget* playerWidget,
                           std::function<const QImage*()> videoImage, std::function<QRect()> videoRect)
    : client_(clientArea),
      player_(playerWidget),
      videoImage_(std::move(videoImage)),
      videoRect_(std::move(videoRect)) {}

void QtClientArea::lockWindowUpdate(bool locked) {
    // The window paints only from this thread's event loop, which the copies
    // of one capture never enter: no repaint can fall between two tiles, and
    // the picture they copy is the one on the screen when the lock was taken.
    // So the tiles are collected while the lock is held and copied when it is
    // released, tiles that continue each other along a row in one run: the
    // same pixels, read the way memory likes to be read.
    if (locked == locked_) return;
    if (locked) {
        locked_ = true;
        lockedArea_ = videoArea(lockedImage_);
        pendingCount_ = 0;
        return;
    }
    // One capture's copies are timed as a whole while the stores are chosen.
    using Clock = std::chrono::steady_clock;
    const FrameSlot* first = pendingCount_ ? pending_[0].slot : nullptr;
    if (first) stores_ = storeChoice_.next(first->bytes());
    const bool timed = first && !storeChoice_.chosen();
    const auto start = timed ? Clock::now() : Clock::time_point();
    for (std::size_t i = 0; i < pendingCount_;) {
        Tile run = pending_[i++];
        while (i < pendingCount_ && pending_[i].slot == run.slot && pending_[i].dy == run.dy &&
               pending_[i].h == run.h && pending_[i].sy == run.sy && pending_[i].dx == run.dx + run.w &&
               pending_[i].sx == run.sx + run.w)
            run.w += pending_[i++].w;
        copyNow(*run.slot, run.dx, run.dy, run.w, run.h, run.sx, run.sy);
    }
    if (timed) storeChoice_.took(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    stores_ = storeChoice_.kept();
    pendingCount_ = 0;
    locked_ = false;
}

QRect QtClientArea::videoArea(const QImage*& image) const {
    image = nullptr;
    if (!player_ || !client_ || !videoImage_ || !videoRect_) return {};
    if (!player_->isVisibleTo(client_)) return {};
    const QImage* img = videoImage_();
    if (!img || img->isNull() || !copyableFormat(*img)) return {};
    const QRect r = videoRect_();
    if (r.isEmpty()) return {};
    image = img;
    // The picture is painted 1:1 from the rectangle's top-left corner and
    // clipped to it.
    const QRect painted(r.topLeft(),
                        QSize(std::min(r.width(), img->width()), std::min(r.height(), img->height())));
    return QRect(player_->mapTo(client_, painted.topLeft()), painted.size()) &
           QRect(player_->mapTo(client_, QPoint(0, 0)), player_->size());
}

void QtClientArea::copyTile(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy) {
    if (locked_ && pendingCount_ < pending_.size()) {
        pending_[pendingCount_++] = Tile{&slot, dx, dy, w, h, sx, sy};
        return;
    }
    copyNow(slot, dx, dy, w, h, sx, sy);
}

void QtClientArea::copyNow(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy) {
    if (!client_ || !slot.pixels || w <= 0 || h <= 0) return;
    const QRect target = QRect(dx, dy, w, h) & QRect(0, 0, slot.width, slot.height);
    if (target.isEmpty()) return;
    const QPoint toClient(sx - dx, sy - dy);
    const QRect source = target.translated(toClient);

    const QImage* image = lockedImage_;
    const QRect area = locked_ ? lockedArea_ : videoArea(image);
    const QRect video = area & source;
    if (!video.isEmpty()) {
        // Straight from the player's picture, made opaque on the way.
        const int ix = video.left() - area.left();
        const int tx = video.left() - toClient.x();
        copyOpaqueRows(slot.row(video.top() - toClient.y()) + tx, static_cast<std::size_t>(slot.width),
                       image->constScanLine(video.top() - area.top()) + static_cast<std::size_t>(ix) * sizeof(Pixel),
                       static_cast<std::size_t>(image->bytesPerLine()), video.width(), video.height(), stores_);
        ++copied_;
        if (video == source) return;
    }
    render(slot, target, toClient, video);
}

void QtClientArea::render(FrameSlot& slot, const QRect& target, const QPoint& toClient, const QRect& skip) {
    const QRect source = target.translated(toClient);
    QRegion region(source);
    if (!skip.isEmpty()) region -= QRegion(skip);
    if (region.isEmpty()) return;
    QImage wrapped(reinterpret_cast<uchar*>(slot.pixels.get()), slot.width, slot.height, slot.stride(),
                   QImage::Format_RGB32);
    {
        QPainter painter(&wrapped);
        painter.setClipRect(target);
        // render() puts the top-left corner of the region's bounding rectangle at
        // the offset.
        const QPoint offset = region.boundingRect().topLeft() - toClient;
        const RenderingElsewhere elsewhere;
        client_->render(&painter, offset, region, QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    // The player paints its picture as it is, alpha 0 included, and not only
    // inside the region: the whole target is made opaque.
    Pixel* first = slot.row(target.top()) + target.left();
    copyOpaqueRows(first, static_cast<std::size_t>(slot.width), reinterpret_cast<const std::uint8_t*>(first),
                   static_cast<std::size_t>(slot.stride()), target.width(), target.height(), SlotStores::Cached);
    ++rendered_;
}

}  // namespace velmora

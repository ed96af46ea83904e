#include <QPainter>
#include <QRegion>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Copies one row of a tile.  Rows are a few kilobytes: glibc's memcpy copies
// those with the CPU's string move, which costs a third more here than
// plain vector loads and stores (measured by bench_capture_review); the
// whole slot copied at once is left to memcpy.  Where the CPU has 32-byte
// vectors they are used: with 16-byte ones a small slot, which stays in the
// cache, took 1.1 to 1.15 times one memcpy of it (32-byte: 0.99 to 1.05).
#if defined(__x86_64__)
__attribute__((target("avx2"))) void copyRowAvx2(Pixel* to, const uchar* from, std::size_t bytes) {
    auto* d = reinterpret_cast<uchar*>(to);
    std::size_t i = 0;
    for (; i + 128 <= bytes; i += 128) {
        const auto* s = reinterpret_cast<const __m256i*>(from + i);
        const __m256i a = _mm256_loadu_si256(s), b = _mm256_loadu_si256(s + 1);
        const __m256i c = _mm256_loadu_si256(s + 2), e = _mm256_loadu_si256(s + 3);
        auto* t = reinterpret_cast<__m256i*>(d + i);
        _mm256_storeu_si256(t, a);
        _mm256_storeu_si256(t + 1, b);
        _mm256_storeu_si256(t + 2, c);
        _mm256_storeu_si256(t + 3, e);
    }
    std::memcpy(d + i, from + i, bytes - i);
}
#endif

void copyRowSse2(Pixel* to, const uchar* from, std::size_t bytes) {
#if defined(__SSE2__)
    auto* d = reinterpret_cast<uchar*>(to);
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const auto* s = reinterpret_cast<const __m128i*>(from + i);
        const __m128i a = _mm_loadu_si128(s), b = _mm_loadu_si128(s + 1);
        const __m128i c = _mm_loadu_si128(s + 2), e = _mm_loadu_si128(s + 3);
        auto* t = reinterpret_cast<__m128i*>(d + i);
        _mm_storeu_si128(t, a);
        _mm_storeu_si128(t + 1, b);
        _mm_storeu_si128(t + 2, c);
        _mm_storeu_si128(t + 3, e);
    }
    std::memcpy(d + i, from + i, bytes - i);
#else
    std::memcpy(to, from, bytes);
#endif
}

using CopyRow = void (*)(Pixel*, const uchar*, std::size_t);
const CopyRow copyRow = [] {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) return &copyRowAvx2;
#endif
    return &copyRowSse2;
}();

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
    for (std::size_t i = 0; i < pendingCount_;) {
        Tile run = pending_[i++];
        while (i < pendingCount_ && pending_[i].slot == run.slot && pending_[i].dy == run.dy &&
               pending_[i].h == run.h && pending_[i].sy == run.sy && pending_[i].dx == run.dx + run.w &&
               pending_[i].sx == run.sx + run.w)
            run.w += pending_[i++].w;
        copyNow(*run.slot, run.dx, run.dy, run.w, run.h, run.sx, run.sy);
    }
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
        // Straight from the player's picture, row by row.
        const int ix = video.left() - area.left();
        const int tx = video.left() - toClient.x();
        const std::size_t bytes = static_cast<std::size_t>(video.width()) * sizeof(Pixel);
        if (ix == 0 && tx == 0 && video.width() == slot.width && image->bytesPerLine() == slot.stride()) {
            // Whole rows on both sides: the rows lie back to back, one copy takes them all.
            std::memcpy(slot.row(video.top() - toClient.y()), image->constScanLine(video.top() - area.top()),
                        bytes * static_cast<std::size_t>(video.height()));
        } else {
            for (int y = video.top(); y <= video.bottom(); ++y) {
                const uchar* from =
                    image->constScanLine(y - area.top()) + static_cast<std::size_t>(ix) * sizeof(Pixel);
                copyRow(slot.row(y - toClient.y()) + tx, from, bytes);
            }
        }
        if (image->format() != QImage::Format_RGB32) {
            for (int y = video.top(); y <= video.bottom(); ++y) {
                Pixel* row = slot.row(y - toClient.y()) + tx;
                for (int x = 0; x < video.width(); ++x) row[x] |= 0xff000000u;
            }
        }
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
    QPainter painter(&wrapped);
    painter.setClipRect(target);
    // render() puts the top-left corner of the region's bounding rectangle at
    // the offset.
    const QPoint offset = region.boundingRect().topLeft() - toClient;
    client_->render(&painter, offset, region, QWidget::DrawWindowBackground | QWidget::DrawChildren);
    ++rendered_;
}

}  // namespace velmora

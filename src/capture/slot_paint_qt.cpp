#include <QImage>
#include <QPaintEngine>
#include <QWidget>
#include <cmath>

#include "base/qt_window_store.h"
#include "capture/opaque_rows.h"
#include "capture/slot_paint.h"

namespace velmora {

void paintSlot(QPainter& painter, QWidget* widget, const QRegion& region, const FrameSlot& slot) {
    const QRect picture(0, 0, slot.width, slot.height);
    const QRegion drawn = region & picture;
    if (drawn.isEmpty()) return;
    QImage* image = windowStoreImage(widget);
    const QTransform t = painter.deviceTransform();
    if (image && painter.paintEngine() && painter.paintEngine()->paintDevice() == image &&
        t.type() <= QTransform::TxTranslate && t.dx() == std::floor(t.dx()) && t.dy() == std::floor(t.dy()) &&
        !painter.hasClipping()) {
        const QImage::Format format = image->format();
        const QPoint at(static_cast<int>(t.dx()), static_cast<int>(t.dy()));
        // The slot's pixels are opaque 0xffRRGGBB: the bytes of either format.
        if ((format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied ||
             format == QImage::Format_ARGB32) &&
            image->rect().contains(drawn.boundingRect().translated(at))) {
            // The store's own memory: bits() could make a copy of it.
            auto* bits = const_cast<uchar*>(image->constBits());
            const auto stride = static_cast<std::size_t>(image->bytesPerLine());
            for (const QRect& r : drawn) {
                auto* to = reinterpret_cast<Pixel*>(bits + static_cast<std::size_t>(r.top() + at.y()) * stride) +
                           r.left() + at.x();
                copyOpaqueRows(to, stride / sizeof(Pixel), reinterpret_cast<const std::uint8_t*>(slot.row(r.top()) + r.left()),
                               static_cast<std::size_t>(slot.stride()), r.width(), r.height(), SlotStores::Cached);
            }
            return;
        }
    }
    const QImage wrapped(reinterpret_cast<const uchar*>(slot.pixels.get()), slot.width, slot.height, slot.stride(),
                         QImage::Format_RGB32);
    painter.drawImage(0, 0, wrapped);
}

}  // namespace velmora

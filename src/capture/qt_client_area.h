// The main window's client area as the user sees it, on Qt: the video
// straight from the player's picture, everything else rendered by Qt.
#pragma once

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <array>
#include <functional>

#include "capture/client_area.h"
#include "capture/opaque_rows.h"

namespace velmora {

class QtClientArea : public ClientAreaSource {
public:
    // `videoImage` is the picture the player paints 1:1 at the top-left of
    // `videoRect` (player coordinates); it may be null when there is none.
    QtClientArea(QWidget* clientArea, QWidget* playerWidget, std::function<const QImage*()> videoImage,
                 std::function<QRect()> videoRect);

    void lockWindowUpdate(bool locked) override;
    void copyTile(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy) override;

    // The stores the captures of the current slot size use.
    SlotStores slotStores() const { return stores_; }
    // Tiles copied straight from the video, and tiles (or parts) rendered.
    long long copiedTiles() const { return copied_; }
    long long renderedTiles() const { return rendered_; }

private:
    // The part of the client area where the video picture lies, in client
    // coordinates; empty when there is none.
    QRect videoArea(const QImage*& image) const;
    void render(FrameSlot& slot, const QRect& target, const QPoint& source, const QRect& skip);

    QPointer<QWidget> client_;
    QPointer<QWidget> player_;
    std::function<const QImage*()> videoImage_;
    std::function<QRect()> videoRect_;
    void copyNow(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy);

    struct Tile {
        FrameSlot* slot;
        int dx, dy, w, h, sx, sy;
    };
    std::array<Tile, 25> pending_{};
    std::size_t pendingCount_ = 0;
    bool locked_ = false;
    QRect lockedArea_;
    const QImage* lockedImage_ = nullptr;
    SlotStoreChoice storeChoice_;
    SlotStores stores_ = SlotStores::Cached;
    long long copied_ = 0;
    long long rendered_ = 0;
};

}  // namespace velmora

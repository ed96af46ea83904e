// The player's picture: an image over memory of its own that copies of the
// image held elsewhere share.  The memory counts the images made over it and
// goes with the last of them.  A resize takes a new image over the same
// memory when nobody else holds it and it is large enough, so that a window
// being dragged does not allocate at every size.
#pragma once

#include <QImage>

namespace velmora {

struct PictureMemory;

class MpvPicture {
public:
    const QImage& image() const { return image_; }
    // The image's pixels for mpv to draw into; the image must not be shared.
    uchar* bits() { return image_.bits(); }
    void fillBlack() {
        if (!image_.isNull()) image_.fill(Qt::black);
    }

    // Makes the image `size`: over its memory when that can be kept, else
    // over new memory.  Without the memory for it the image is null.
    void resize(QSize size);
    // Puts the image over new memory of its size, leaving the old memory to
    // the copies that share it; a null image when no memory can be had.
    void renew();
    // renew(), except that the image stays as it is when no memory can be
    // had; false then.
    bool tryRenew();

private:
    QImage image_;
    PictureMemory* memory_ = nullptr;  // image_'s memory, while image_ holds it
};

}  // namespace velmora

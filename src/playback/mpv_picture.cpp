#include "playback/mpv_picture.h"

#include <atomic>
#include <cstdlib>
#include <utility>

namespace velmora {

struct PictureMemory {
    uchar* pixels;
    std::size_t bytes;
    std::atomic<int> images{0};
};

namespace {

void releasePicture(void* info) {
    auto* memory = static_cast<PictureMemory*>(info);
    if (--memory->images == 0) {
        std::free(memory->pixels);
        delete memory;
    }
}

qsizetype alignedStride(int width) { return (static_cast<qsizetype>(width) * 4 + 63) / 64 * 64; }

// An image of `size` over `memory`, rows aligned to 64 bytes (which keeps
// mpv's converters on their fast paths).
QImage pictureOver(PictureMemory* memory, QSize size) {
    ++memory->images;
    QImage image(memory->pixels, size.width(), size.height(), alignedStride(size.width()), QImage::Format_RGB32,
                 releasePicture, memory);
    if (image.isNull()) releasePicture(memory);  // QImage did not take it
    return image;
}

// A picture of `size` on new memory with room to grow by an eighth; a null
// image when the memory cannot be had.
QImage newPicture(QSize size, PictureMemory*& memory) {
    memory = nullptr;
    if (size.isEmpty()) return {};
    const std::size_t need = static_cast<std::size_t>(alignedStride(size.width())) *
                             static_cast<std::size_t>(size.height());
    const std::size_t bytes = (need + need / 8 + 63) / 64 * 64;
    void* pixels = std::aligned_alloc(64, bytes);
    if (!pixels) return {};
    memory = new PictureMemory{static_cast<uchar*>(pixels), bytes};
    QImage image = pictureOver(memory, size);
    if (image.isNull()) memory = nullptr;
    return image;
}

// `image`'s memory at another size, when only `image` uses it and it is large
// enough; else a null image.
QImage resizedPicture(const QImage& image, PictureMemory* memory, QSize size) {
    if (image.isNull() || !memory || size.isEmpty() || !image.isDetached() || memory->images != 1) return {};
    const std::size_t need = static_cast<std::size_t>(alignedStride(size.width())) *
                             static_cast<std::size_t>(size.height());
    if (need > memory->bytes) return {};
    return pictureOver(memory, size);
}

}  // namespace

void MpvPicture::resize(QSize size) {
    QImage next = resizedPicture(image_, memory_, size);
    PictureMemory* memory = memory_;
    image_ = QImage();  // the old memory goes first when it is not kept
    if (next.isNull()) next = newPicture(size, memory);
    image_ = std::move(next);
    memory_ = image_.isNull() ? nullptr : memory;
}

void MpvPicture::renew() {
    PictureMemory* memory = nullptr;
    QImage next = newPicture(image_.size(), memory);
    image_ = std::move(next);
    memory_ = image_.isNull() ? nullptr : memory;
}

bool MpvPicture::tryRenew() {
    PictureMemory* memory = nullptr;
    QImage next = newPicture(image_.size(), memory);
    if (next.isNull()) return false;
    image_ = std::move(next);
    memory_ = memory;
    return true;
}

}  // namespace velmora

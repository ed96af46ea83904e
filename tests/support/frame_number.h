// The frame number numbered.mp4 carries in its picture: ten 32x32 blocks
// across the top, block i white when bit i of the number is set, least
// significant bit at the left.
#pragma once

#include <QImage>
#include <algorithm>
#include <QPoint>

namespace velmora::testing {

// Reads the number from a picture whose video starts at `origin`.  Each block
// is judged by the mean grey of the 8x8 pixels at its centre, away from the
// edges that compression smears.  -1 when the picture is too small or a block
// is neither clearly white nor clearly black.
inline int frameNumber(const QImage& image, QPoint origin = {}) {
    if (origin.x() < 0 || origin.y() < 0 || image.width() < origin.x() + 320 ||
        image.height() < origin.y() + 32)
        return -1;
    int number = 0;
    for (int bit = 0; bit < 10; ++bit) {
        int sum = 0;
        for (int y = 12; y < 20; ++y)
            for (int x = 12; x < 20; ++x)
                sum += qGray(image.pixel(origin.x() + 32 * bit + x, origin.y() + y));
        const int gray = sum / 64;
        if (gray > 60 && gray < 190) return -1;
        if (gray >= 190) number |= 1 << bit;
    }
    return number;
}

// The same number read from a screen shot, strictly enough that nothing else
// on the screen passes: every block plainly black or white (no colour) at its
// centre and near two of its corners.  -1 when there is none at (x, y); all
// white is a light area, not a frame.
inline int stripNumber(const QImage& img, int x, int y) {
    if (x + 320 > img.width() || y + 32 > img.height()) return -1;
    int number = 0;
    for (int bit = 0; bit < 10; ++bit) {
        int white = 0;
        for (const int d : {6, 16, 26}) {
            const QRgb p = img.pixel(x + 32 * bit + d, y + d);
            const int lo = std::min({qRed(p), qGreen(p), qBlue(p)}), hi = std::max({qRed(p), qGreen(p), qBlue(p)});
            if (lo > 170) ++white;
            else if (hi >= 70) return -1;
        }
        if (white == 3) number |= 1 << bit;
        else if (white != 0) return -1;
    }
    return number == 1023 ? -1 : number;
}

}  // namespace velmora::testing

#include "app/images.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace velmora {

namespace {

const QColor kImageBackground(192, 192, 192);
const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);

// DejaVu Sans is on every Debian desktop; Qt falls back to any sans face.
QFont imageFont() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    return f;
}

QImage blankImage() {
    QImage img(kButtonImageWidth, kButtonImageHeight, QImage::Format_RGB32);
    img.fill(kImageBackground);
    return img;
}

// An arrow 11 pixels long, centred on row `cy`, its tip at `tipX`.
void drawArrow(QPainter& p, int tipX, int cy, bool pointsLeft, const QColor& color) {
    const int dir = pointsLeft ? 1 : -1;  // from the tip towards the tail
    const QPoint head[3] = {QPoint(tipX, cy), QPoint(tipX + dir * 5, cy - 5), QPoint(tipX + dir * 5, cy + 5)};
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(head, 3);
    const int shaftFrom = tipX + dir * 5;
    const int shaftTo = tipX + dir * 11;
    p.fillRect(QRect(QPoint(std::min(shaftFrom, shaftTo), cy - 1), QPoint(std::max(shaftFrom, shaftTo), cy + 1)),
               color);
}

}  // namespace

QImage reviewImage(ReviewPicture which) {
    QImage img = blankImage();
    QPainter p(&img);
    const int cy = kButtonImageHeight / 2;
    drawArrow(p, 2, cy, true, which == kReviewBack ? kBlue : kBlack);
    drawArrow(p, kButtonImageWidth - 3, cy, false, which == kReviewForward ? kBlue : kBlack);
    p.setPen(kBlack);
    p.setFont(imageFont());
    p.drawText(QRect(15, 0, kButtonImageWidth - 30, kButtonImageHeight), Qt::AlignCenter, QStringLiteral("Frames"));
    return img;
}

QImage playImage(bool blueTriangle) {
    QImage img = blankImage();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(imageFont());
    p.setPen(kBlack);
    const QString text = QStringLiteral("Play");
    const int textWidth = p.fontMetrics().horizontalAdvance(text);
    const int triangleWidth = 9, gap = 5;
    const int x0 = (kButtonImageWidth - (textWidth + gap + triangleWidth)) / 2;
    p.drawText(QRect(x0, 0, textWidth + 1, kButtonImageHeight), Qt::AlignVCenter | Qt::AlignLeft, text);
    const int tx = x0 + textWidth + gap, cy = kButtonImageHeight / 2;
    const QPointF tri[3] = {QPointF(tx, cy - 5.5), QPointF(tx + triangleWidth, cy), QPointF(tx, cy + 5.5)};
    p.setPen(Qt::NoPen);
    p.setBrush(blueTriangle ? kBlue : kBlack);
    p.drawPolygon(tri, 3);
    return img;
}

QImage appIconImage(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    // Drawn on a 32 x 32 grid; larger icons are the same drawing scaled.
    p.scale(size / 32.0, size / 32.0);
    if (size % 32 != 0) p.setRenderHint(QPainter::Antialiasing);
    // The film strip: a dark frame with sprocket holes along both edges.
    p.fillRect(QRect(3, 2, 26, 28), QColor(40, 40, 40));
    for (int y = 4; y < 29; y += 5) {
        p.fillRect(QRect(5, y, 3, 3), QColor(230, 230, 230));
        p.fillRect(QRect(24, y, 3, 3), QColor(230, 230, 230));
    }
    // The picture inside the frame.
    p.fillRect(QRect(10, 5, 12, 22), QColor(120, 170, 230));
    // A back arrow across the picture.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 200, 0));
    const QPointF head[3] = {QPointF(8, 16), QPointF(16, 9), QPointF(16, 23)};
    p.drawPolygon(head, 3);
    p.drawRect(QRectF(15, 13.5, 9, 5));
    return img;
}

QIcon appIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(appIconImage()));
    return icon;
}

}  // namespace velmora

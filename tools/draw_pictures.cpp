// Draws the pictures the program ships with, as PNG files into one folder:
//   frame0.png .. frame5.png   the About box's demo: a ball kicked into a goal
//   icon-48.png, icon-256.png  the program's icon for the desktop's icon theme
// tools/make-pictures turns the frames into the GIF files of the program folder.
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

#include "app/images.h"

namespace {

constexpr int kWidth = 120, kHeight = 125;
constexpr int kFrames = 6;
constexpr double kGround = 100;

// Where the ball is in frame i: it leaves the foot, rises and drops into the goal.
QPointF ballAt(int i) {
    const double t = i / double(kFrames - 1);
    return {30 + 76 * t, kGround - 6 - (220 * t * (1 - t) + 14 * t)};
}

void drawPlayer(QPainter& p, int frame) {
    p.setPen(QPen(QColor(30, 30, 30), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(30, 30, 30));
    const QPointF hip(16, 76), neck(18, 56);
    p.drawEllipse(QPointF(19, 50), 5, 5);  // head
    p.drawLine(neck, hip);
    // Arms out for balance.
    p.drawLine(QPointF(18, 60), QPointF(8, 66));
    p.drawLine(QPointF(18, 60), QPointF(28, 64));
    // Standing leg, and the kicking leg: through the ball at frame 0, then
    // swinging on up and coming down again.
    p.drawLine(hip, QPointF(10, kGround - 1));
    static const QPointF foot[kFrames] = {{28, 95}, {32, 84}, {30, 80}, {26, 88}, {22, 95}, {20, 99}};
    p.drawLine(hip, foot[frame]);
}

void drawGoal(QPainter& p) {
    p.setPen(QPen(QColor(200, 200, 200), 1));
    for (int x = 98; x <= 116; x += 4) p.drawLine(x, 68, x + 3, kGround);
    for (int y = 72; y < kGround; y += 5) p.drawLine(98, y, 117, y);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(QPointF(98, kGround), QPointF(98, 66));
    p.drawLine(QPointF(98, 66), QPointF(117, 66));
}

void drawBall(QPainter& p, QPointF c, int alpha) {
    p.setPen(QPen(QColor(0, 0, 0, alpha), 1.2));
    p.setBrush(QColor(255, 255, 255, alpha));
    p.drawEllipse(c, 6, 6);
    p.setBrush(QColor(0, 0, 0, alpha));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 2.2, 2.2);
}

QImage frame(int i) {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    img.fill(QColor(170, 215, 250));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(0, kGround, kWidth, kHeight - kGround), QColor(70, 160, 60));
    p.setPen(QPen(QColor(235, 245, 235), 1));
    p.drawLine(QPointF(0, kGround + 0.5), QPointF(kWidth, kGround + 0.5));
    drawGoal(p);
    drawPlayer(p, i);
    // A faint trail of where the ball has been makes the motion read at once.
    for (int k = 0; k < i; ++k) drawBall(p, ballAt(k), 50 + 25 * k);
    drawBall(p, ballAt(i), 255);
    // The frame's number, like a counter in the corner of a video.
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 150));
    p.drawRoundedRect(QRectF(kWidth - 22, kHeight - 19, 18, 16), 3, 3);
    p.setPen(Qt::white);
    p.drawText(QRectF(kWidth - 22, kHeight - 19, 18, 16), Qt::AlignCenter, QString::number(i));
    return img;
}

bool save(const QImage& img, const QString& path) {
    if (img.save(path, "PNG")) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    for (int i = 0; i < kFrames; ++i) ok &= save(frame(i), dir + QStringLiteral("/frame%1.png").arg(i));
    for (int size : {48, 256})
        ok &= save(velmora::appIconImage(size), dir + QStringLiteral("/icon-%1.png").arg(size));
    return ok ? 0 : 1;
}

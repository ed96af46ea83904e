#include "support/about_box.h"

#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include "app/images.h"
#include "base/errors.h"
#include "base/qt_text.h"

namespace velmora {

namespace {

// The box as designed, in pixels (15 twips each).
constexpr QSize kClientSize(360, 335);
constexpr QLine kLines[] = {
    {324, 112, 16, 112},   // Line5
    {324, 112, 324, 284},  // Line4
    {16, 112, 16, 284},    // Line3
    {16, 284, 324, 284},   // Line2
    {16, 148, 324, 148},   // Line6: the band of the review button
};

// A 9.75-point sans face; smaller only when the text would not fit its label.
QFont labelFont(const QString& text, int width, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setBold(bold);
    for (double pt = 9.75; pt > 6.0; pt -= 0.25) {
        f.setPointSizeF(pt);
        if (QFontMetrics(f).horizontalAdvance(text) <= width) break;
    }
    return f;
}

}  // namespace

QImage mouseIcon(bool leftButtonBlue) {
    QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(7.5, 5.5, 17, 24);
    QPainterPath outline;
    outline.addRoundedRect(body, 8, 8);
    // The cable.
    p.setPen(QPen(Qt::black, 1.2));
    p.drawLine(QPointF(16, 5.5), QPointF(16, 1));
    // The body, white, and the chosen button filled blue.
    p.fillPath(outline, Qt::white);
    const double split = 14.5;  // where the buttons end
    QPainterPath button;
    button.addRect(leftButtonBlue ? QRectF(body.left(), body.top(), body.width() / 2, split - body.top())
                                  : QRectF(16, body.top(), body.width() / 2, split - body.top()));
    p.fillPath(outline.intersected(button), QColor(0, 90, 255));
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    p.drawLine(QPointF(body.left(), split), QPointF(body.right(), split));
    p.drawLine(QPointF(16, body.top()), QPointF(16, split));
    return img;
}

AboutBox::AboutBox(QWidget* parent, TimerHost& timers, DesktopPort& desktop, const std::string& programFolder)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About MyApp"));
    setFixedSize(kClientSize);
    setFocusPolicy(Qt::StrongFocus);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);
    setAutoFillBackground(true);

    addLabel("Label1", "To review the last 50 video frames:", {20, 12, 249, 17}, true);
    oLeftMouse_ = new QLabel(this);
    oLeftMouse_->setObjectName(QStringLiteral("oLeftMouse"));
    oLeftMouse_->setGeometry(12, 32, 40, 40);
    oLeftMouse_->setScaledContents(true);
    oLeftMouse_->setPixmap(QPixmap::fromImage(mouseIcon(true)));
    oLeftMouse_->hide();
    addLabel("Label2", "Press left mouse button to view previous frames", {64, 48, 285, 17}, false);
    oRightMouse_ = new QLabel(this);
    oRightMouse_->setObjectName(QStringLiteral("oRightMouse"));
    oRightMouse_->setGeometry(12, 64, 40, 40);
    oRightMouse_->setScaledContents(true);
    oRightMouse_->setPixmap(QPixmap::fromImage(mouseIcon(false)));
    oRightMouse_->hide();
    QLabel* label3 = addLabel("Label3", "Press right mouse button to view next frames", {64, 80, 285, 17}, false);
    // The two lines of the gesture in one size, the one that fits the longer.
    label3->setFont(label("Label2")->font());

    oButtonImage_ = new QLabel(this);
    oButtonImage_->setObjectName(QStringLiteral("oButtonImage"));
    oButtonImage_->setGeometry(64, 116, 89, 29);
    oButtonImage_->setScaledContents(true);

    oFrame_ = new QLabel(this);
    oFrame_->setObjectName(QStringLiteral("oFrame"));
    oFrame_->setGeometry(104, 152, 120, 125);

    lblDisclaimer_ = addLabel("lblDisclaimer", "", {16, 305, 142, 19}, false);

    cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setGeometry(228, 300, 96, 28);
    cmdOK_->setDefault(true);
    connect(cmdOK_, &QPushButton::clicked, this, [this] { frm_->cmdOK_Click(); });

    frm_ = std::make_unique<FrmAbout>(timers, desktop, *this, programFolder);
    aboutChanged();
}

AboutBox::~AboutBox() {
    // Timer1 goes with the form, before the widgets it changes.
    frm_.reset();
}

QLabel* AboutBox::addLabel(const char* name, const char* text, QRect rect, bool bold) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(rect);
    l->setFont(labelFont(l->text(), rect.width(), bold));
    l->setAutoFillBackground(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
    return l;
}

QLabel* AboutBox::label(const char* name) const { return findChild<QLabel*>(QString::fromLatin1(name)); }

void AboutBox::load() { frm_->Form_Load(); }

void AboutBox::showModal() {
    load();
    exec();
}

void AboutBox::loadFramePicture(const std::string& path) {
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    if (!QFile::exists(file)) RAISE_ERROR("File not found: " + path);
    QImageReader reader(file);
    const QImage picture = reader.read();
    if (picture.isNull()) RAISE_ERROR("Invalid picture: " + path);
    // The picture keeps its own size; the top-left corner stays.
    oFrame_->setPixmap(QPixmap::fromImage(picture));
    oFrame_->resize(picture.size());
}

void AboutBox::aboutChanged() {
    setWindowTitle(fromUtf8(frm_->caption()));
    const QString disclaimer = fromUtf8(frm_->disclaimer());
    if (lblDisclaimer_->text() != disclaimer) {
        lblDisclaimer_->setText(disclaimer);
        lblDisclaimer_->setFont(labelFont(disclaimer, lblDisclaimer_->width(), false));
    }
    oButtonImage_->setPixmap(QPixmap::fromImage(reviewImage(frm_->buttonImage())));
    oLeftMouse_->setVisible(frm_->leftMouseVisible());
    oRightMouse_->setVisible(frm_->rightMouseVisible());
}

void AboutBox::unload() { done(QDialog::Accepted); }

void AboutBox::focusForm() { setFocus(Qt::ActiveWindowFocusReason); }

bool AboutBox::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) frm_->Form_Activate();
    return QDialog::event(e);
}

void AboutBox::keyPressEvent(QKeyEvent* e) {
    // Every key the box receives closes it, Enter and Esc included.
    frm_->Form_KeyDown(e->key(), 0);
}

void AboutBox::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    QPainter p(this);
    p.setPen(QPen(Qt::black, 1));
    for (const QLine& l : kLines) p.drawLine(l);
}

}  // namespace velmora

#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QUrl>
#include <cmath>
#include <xcb/xcb.h>

#include "app/frm_main.h"
#include "app/images.h"
#include "capture/slot_paint.h"
#include "support/errors.h"
#include "support/qt_text.h"

namespace velmora {

namespace {

constexpr int kDesignClientWidth = 592;
constexpr int kDesignClientHeight = 551;
// The speed scroll bar's model values run from 0 (normal) to 2 (very slow).
constexpr int kSpeedMax = 2;
// How long an unmarked key release waits for the press of an auto-repeat
// pair (same timestamp) before it counts as the key coming up.
constexpr int kRepeatPairWaitMs = 50;

int buttonCode(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton: return mouse::Left;
        case Qt::RightButton: return mouse::Right;
        case Qt::MiddleButton: return mouse::Middle;
        default: return 0;
    }
}

QRect pixelRect(const Control& c) {
    const auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(c.left()), px(c.top()), px(c.width()), px(c.height()));
}

}  // namespace

// ---- Key codes ----

int keyCodeOf(int k) {
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return k;         // 65..90
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return k;         // 48..57
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return 112 + (k - Qt::Key_F1);
    switch (k) {
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Shift: return 16;
        case Qt::Key_Control: return 17;
        case Qt::Key_Alt:
        case Qt::Key_AltGr: return 18;
        case Qt::Key_Pause: return 19;
        case Qt::Key_CapsLock: return 20;
        case Qt::Key_Escape: return 27;
        case Qt::Key_Space: return 32;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        case Qt::Key_Print: return 44;
        case Qt::Key_Insert: return 45;
        case Qt::Key_Delete: return 46;
        case Qt::Key_Meta: return 91;
        case Qt::Key_Menu: return 93;
        case Qt::Key_NumLock: return 144;
        case Qt::Key_ScrollLock: return 145;
        default: return 255;  // any other key: none of the codes above
    }
}

int shiftMaskOf(Qt::KeyboardModifiers m) {
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

// ---- SlotView ----

SlotView::SlotView(int index, QWidget* parent) : QWidget(parent), index_(index) {
    setObjectName(QStringLiteral("oCaptured"));
    setProperty("index", index);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SlotView::setIndex(int index) {
    index_ = index;
    setProperty("index", index);
}

void SlotView::setFrameSlot(const FrameSlot* slot) {
    slot_ = slot;
    update();
}

void SlotView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    QRect picture;
    if (slot_ && slot_->pixels && slot_->settled() && slot_->width > 0 && slot_->height > 0) {
        picture = QRect(0, 0, slot_->width, slot_->height);
        paintSlot(p, this, event->region(), *slot_);
    }
    // Whatever the picture does not cover shows the window background.
    const QRegion rest = QRegion(event->rect()).subtracted(QRegion(picture));
    for (const QRect& r : rest) p.fillRect(r, palette().window());
}

void SlotView::mousePressEvent(QMouseEvent* event) {
    const int b = buttonCode(event->button());
    if (b && onMouseDown) onMouseDown(b, shiftMaskOf(event->modifiers()), event->position().toPoint());
}

// ---- ReviewButton ----

ReviewButton::ReviewButton(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("cmdReview"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ReviewButton::setPicture(int which) {
    if (which < kReviewIdle || which > kReviewBack) which = kReviewIdle;
    if (which == picture_) return;
    picture_ = which;
    update();
}

void ReviewButton::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        p.fillRect(contentsRect(), QColor(192, 192, 192));
        static const std::array<QImage, 3> images{reviewImage(kReviewIdle), reviewImage(kReviewForward),
                                                  reviewImage(kReviewBack)};
        p.drawImage(contentsRect().topLeft(), images[static_cast<std::size_t>(picture_)]);
    }
    QFrame::paintEvent(event);  // the sunken border
}

void ReviewButton::mousePressEvent(QMouseEvent* event) {
    const int b = buttonCode(event->button());
    if (!b) return;
    down_ |= event->button();
    if (onMouseDown)
        onMouseDown(b, shiftMaskOf(event->modifiers()), event->position().toPoint() - contentsRect().topLeft());
}

void ReviewButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!buttonCode(event->button())) return;
    const bool wasDown = down_.testFlag(event->button());
    down_ &= ~event->button();
    if (onMouseUp) onMouseUp();
    // A click is a left or right press and release over the button.
    const bool clickButton = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
    if (wasDown && clickButton && rect().contains(event->position().toPoint()) && onClick) onClick();
}

void ReviewButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;
    if (onKeyUp) onKeyUp();
}

// ---- MainWindow ----

MainWindow::MainWindow(QWidget* playerWidget) : player_(playerWidget) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setWindowIcon(appIcon());
    setAcceptDrops(true);
    setContextMenuPolicy(Qt::NoContextMenu);

    // The window background the frame slots are cleared to.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(kSlotBackground));
    setPalette(pal);

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(client_);
    // The controls' text as designed: 8 point, narrow enough that the
    // longest texts fit their labels ("Speed: very slow" in 89 pixels).
    QFont f = client_->font();
    f.setPointSize(8);
    f.setStretch(QFont::SemiCondensed);
    client_->setFont(f);

    buildControls();
    buildMenus();

    client_->installEventFilter(this);
    qApp->installEventFilter(this);
    releaseTimer_.setSingleShot(true);
    connect(&releaseTimer_, &QTimer::timeout, this, &MainWindow::deliverPendingReleases);
    setClientSize(kDesignClientWidth, kDesignClientHeight);
}

MainWindow::~MainWindow() {
    frm_ = nullptr;  // nothing reaches the procedures while the widgets go
    qApp->removeEventFilter(this);
    // The player belongs to whoever created it.
    if (player_) player_->setParent(nullptr);
}

void MainWindow::buildControls() {
    // Created bottom to top: the player, the frame slots over it, the hider
    // over both.
    cmdReview_ = new ReviewButton(client_);
    cmdReview_->setGeometry(92, 4, 79, 23);
    cmdReview_->onMouseDown = [this](int button, int shift, QPoint pos) {
        if (frm_) frm_->cmdReview_MouseDown(button, shift, toTwips(pos.x()), toTwips(pos.y()));
    };
    cmdReview_->onMouseUp = [this] {
        if (frm_) frm_->cmdReview_MouseUp();
    };
    cmdReview_->onClick = [this] {
        if (frm_) frm_->cmdReview_Click();
    };
    cmdReview_->onKeyUp = [this] {
        if (frm_) frm_->cmdReview_KeyUp();
    };

    cmdPlay_ = new QPushButton(client_);
    cmdPlay_->setObjectName(QStringLiteral("cmdPlay"));
    cmdPlay_->setGeometry(4, 4, 79, 23);
    cmdPlay_->setCheckable(true);
    {
        const QPixmap black = QPixmap::fromImage(playImage(false));
        const QPixmap blue = QPixmap::fromImage(playImage(true));
        QIcon icon;
        icon.addPixmap(black, QIcon::Normal, QIcon::Off);
        icon.addPixmap(blue, QIcon::Normal, QIcon::On);
        icon.addPixmap(black, QIcon::Disabled, QIcon::Off);
        icon.addPixmap(black, QIcon::Disabled, QIcon::On);
        icon.addPixmap(black, QIcon::Active, QIcon::Off);
        icon.addPixmap(blue, QIcon::Active, QIcon::On);
        cmdPlay_->setIcon(icon);
        cmdPlay_->setIconSize(QSize(kButtonImageWidth, kButtonImageHeight));
    }
    cmdPlay_->setEnabled(false);
    cmdPlay_->setToolTip(QStringLiteral("Play / Pause Video"));
    connect(cmdPlay_, &QPushButton::clicked, this, [this](bool checked) {
        if (!frm_) return;
        frm_->setPlayButton(checked ? 1 : 0);
        syncPlayButton();
    });

    frReviewTime_ = new QFrame(client_);
    frReviewTime_->setObjectName(QStringLiteral("frReviewTime"));
    frReviewTime_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frReviewTime_->setGeometry(176, 0, 49, 27);
    frReviewTime_->setEnabled(false);
    frReviewTime_->hide();

    lblReviewTime_ = new QLabel(QStringLiteral("-0.0 sec"), frReviewTime_);
    lblReviewTime_->setObjectName(QStringLiteral("lblReviewTime"));
    lblReviewTime_->setGeometry(4, 8, 41, 17);
    lblReviewTime_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    {
        // The frame is disabled so that it takes no clicks; its text is
        // still shown in full black.
        QPalette pal = lblReviewTime_->palette();
        pal.setColor(QPalette::Disabled, QPalette::WindowText, pal.color(QPalette::Active, QPalette::WindowText));
        lblReviewTime_->setPalette(pal);
    }

    lblSpeed_ = new QLabel(QStringLiteral("Speed: normal"), client_);
    lblSpeed_->setObjectName(QStringLiteral("lblSpeed"));
    lblSpeed_->setGeometry(236, 0, 89, 13);
    lblSpeed_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    speed_ = new QScrollBar(Qt::Horizontal, client_);
    speed_->setObjectName(QStringLiteral("SpeedScrollBar"));
    speed_->setGeometry(236, 16, 69, 13);
    // Three positions: very slow (2) at the left end, normal (0) at the
    // right.  The widget counts the other way round (its value is 2 minus
    // the model's) rather than being drawn inverted: an inverted QScrollBar
    // still steps down with its left arrow, moving the thumb to the right.
    speed_->setRange(0, kSpeedMax);
    speed_->setSingleStep(1);
    speed_->setPageStep(1);
    speed_->setValue(kSpeedMax);
    // While the thumb is dragged: Scroll; when it is dropped or moved any
    // other way: Change.
    speed_->setTracking(false);
    speed_->setFocusPolicy(Qt::StrongFocus);
    // The Left key moves the thumb left (Qt's scroll bars step the other way).
    speed_->setInvertedControls(false);
    connect(speed_, &QScrollBar::valueChanged, this, [this](int v) {
        if (!frm_) return;
        frm_->SpeedScrollBar.setValue(kSpeedMax - v);
        frm_->SpeedScrollBar_Change();
    });
    connect(speed_, &QScrollBar::sliderMoved, this, [this](int v) {
        if (!frm_) return;
        frm_->SpeedScrollBar.setValue(kSpeedMax - v);
        frm_->SpeedScrollBar_Scroll();
    });

    if (player_) {
        player_->setParent(client_);
        player_->setObjectName(QStringLiteral("oMediaPlayer"));
        player_->setGeometry(4, 36, 239, 251);
        player_->show();
    }

    for (int i = 0; i <= kRingSize; ++i) {
        auto* s = new SlotView(i, client_);
        s->setGeometry(4, 36, 273, 173);
        s->hide();
        s->onMouseDown = [this, s](int button, int shift, QPoint pos) {
            if (frm_) frm_->oCaptured_MouseDown(s->index(), button, shift, toTwips(pos.x()), toTwips(pos.y()));
        };
        slots_[static_cast<std::size_t>(i)] = s;
    }

    lblHider_ = new QLabel(client_);
    lblHider_->setObjectName(QStringLiteral("lblHider"));
    lblHider_->setGeometry(4, 288, 93, 53);
    lblHider_->setAutoFillBackground(true);
    lblHider_->setBackgroundRole(QPalette::Window);
    lblHider_->raise();

    cmdReviewPictures_ = new QPushButton(client_);
    cmdReviewPictures_->setObjectName(QStringLiteral("cmdReviewPictures"));
    cmdReviewPictures_->setGeometry(292, 228, 29, 29);
    cmdReviewPictures_->hide();

    // Keyboard focus order: the lowest tab index first.
    QWidget* order[] = {cmdReview_, cmdPlay_, player_, slots_[0], speed_, cmdReviewPictures_};
    QWidget* prev = nullptr;
    for (QWidget* w : order) {
        if (!w || w->focusPolicy() == Qt::NoFocus) continue;
        if (prev) QWidget::setTabOrder(prev, w);
        prev = w;
        if (w == slots_[0]) {
            for (int i = 1; i <= kRingSize; ++i) {
                if (slots_[static_cast<std::size_t>(i)]->focusPolicy() == Qt::NoFocus) continue;
                QWidget::setTabOrder(prev, slots_[static_cast<std::size_t>(i)]);
                prev = slots_[static_cast<std::size_t>(i)];
            }
        }
    }
    cmdReview_->setFocus();
}

QAction* MainWindow::addEntry(QMenu* menu, const char* name, const char* caption, std::function<void()> handler,
                              QKeySequence shortcut) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromUtf8(name));
    if (!shortcut.isEmpty()) {
        a->setShortcut(shortcut);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setAutoRepeat(false);  // a held F7 plays or pauses once
    }
    connect(a, &QAction::triggered, this, [this, handler = std::move(handler)] {
        if (frm_ && handler) handler();
    });
    return a;
}

void MainWindow::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    // Menus that are not given a name of their own stay inert.
    const auto none = std::function<void()>();

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    addEntry(file, "mnuFileOpen", "&Open Video...", [this] { frm_->mnuFileOpen_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_O));
    addEntry(file, "mnuFileSaveFrame", "Save &Frame As...", [this] { frm_->mnuFileSaveFrame_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_S));
    addEntry(file, "mnuFileExportFrames", "&Export Frames...", [this] { frm_->mnuFileExportFrames_Click(); },
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    file->addSeparator()->setObjectName(QStringLiteral("S1"));
    addEntry(file, "mnuFileExit", "E&xit", [this] { frm_->mnuFileExit_Click(); });

    QMenu* tools = bar->addMenu(QStringLiteral("&Edit"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    addEntry(tools, "mnuToolsCopy", "&Copy Image", [this] { frm_->mnuToolsCopy_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_C));
    tools->addSeparator()->setObjectName(QStringLiteral("s5"));
    addEntry(tools, "mnuToolsOptions", "&Options...", [this] { frm_->mnuToolsOptions_Click(); });

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    addEntry(view, "mnuViewPrev", "P&revious Frame     F5", [this] { frm_->mnuViewPrev_Click(); });
    addEntry(view, "mnuViewNext", "&Next Frame           F6", [this] { frm_->mnuViewNext_Click(); });
    view->addSeparator()->setObjectName(QStringLiteral("s3"));
    addEntry(view, "mnuViewPlay", "&Play / Pause ", [this] { frm_->mnuViewPlay_Click(); }, QKeySequence(Qt::Key_F7));
    view->addSeparator()->setObjectName(QStringLiteral("s6"));
    addEntry(view, "mnuToolsBack", "&Back 6 seconds     F4", [this] { frm_->mnuToolsBack_Click(); });

    QMenu* zoom = bar->addMenu(QStringLiteral("&Zoom"));
    zoom->setObjectName(QStringLiteral("mnuViewZoom"));
    // Check marks are the procedures' business: after each command the
    // entries show the model again, whatever Qt toggled.
    zoom100_ = addEntry(zoom, "mnuZoom100", "&100 %", [this] { frm_->mnuZoom100_Click(); syncZoomChecks(); },
                        QKeySequence(Qt::CTRL | Qt::Key_F1));
    zoom200_ = addEntry(zoom, "mnuZoom200", "&200 %", [this] { frm_->mnuZoom200_Click(); syncZoomChecks(); },
                        QKeySequence(Qt::CTRL | Qt::Key_F2));
    zoomFit_ = addEntry(zoom, "mnuZoomFit", "&Fit to Window", [this] { frm_->mnuZoomFit_Click(); syncZoomChecks(); },
                        QKeySequence(Qt::CTRL | Qt::Key_F3));
    for (QAction* a : {zoom100_, zoom200_, zoomFit_}) a->setCheckable(true);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    addEntry(help, "mnuHelpContent", "&Frequently Asked Questions", [this] { frm_->mnuHelpContent_Click(); });
    addEntry(help, "mnuHelpEmail", "&Email Author", [this] { frm_->mnuHelpEmail_Click(); });
    addEntry(help, "mnuHelpAbout", "&About...", [this] { frm_->mnuHelpAbout_Click(); });
}

// ---- Binding and the model ----

void MainWindow::bind(FrmMain& frm) {
    frm_ = &frm;
    frm.setView(this);
    for (int i = 0; i <= kRingSize; ++i) {
        slots_[static_cast<std::size_t>(i)]->setFrameSlot(&frm.capturedImage[static_cast<std::size_t>(i)]);
        slotSynced_[static_cast<std::size_t>(i)] = false;
    }
    for (const Control* c : {&frm.cmdPlay, &frm.cmdReview, &frm.frReviewTime, &frm.lblReviewTime, &frm.lblSpeed,
                             &frm.SpeedScrollBar, &frm.oMediaPlayer, &frm.lblHider, &frm.cmdReviewPictures,
                             &frm.mnuZoom100, &frm.mnuZoom200, &frm.mnuZoomFit})
        applyAll(*c);
    for (const Control& c : frm.oCaptured) applyAll(c);
}

QWidget* MainWindow::widgetOf(Ctl id, int index) const {
    switch (id) {
        case Ctl::cmdPlay: return cmdPlay_;
        case Ctl::cmdReview: return cmdReview_;
        case Ctl::frReviewTime: return frReviewTime_;
        case Ctl::lblReviewTime: return lblReviewTime_;
        case Ctl::lblSpeed: return lblSpeed_;
        case Ctl::SpeedScrollBar: return speed_;
        case Ctl::oMediaPlayer: return player_;
        case Ctl::lblHider: return lblHider_;
        case Ctl::cmdReviewPictures: return cmdReviewPictures_;
        case Ctl::oCaptured:
            if (index < 0 || index > kRingSize) return nullptr;
            return slots_[static_cast<std::size_t>(index)];
        case Ctl::mnuZoom100:
        case Ctl::mnuZoom200:
        case Ctl::mnuZoomFit: return nullptr;
    }
    return nullptr;
}

QAction* MainWindow::actionOf(Ctl id) const {
    switch (id) {
        case Ctl::mnuZoom100: return zoom100_;
        case Ctl::mnuZoom200: return zoom200_;
        case Ctl::mnuZoomFit: return zoomFit_;
        default: return nullptr;
    }
}

void MainWindow::controlChanged(const Control& control, Prop prop) {
    if (control.id() == Ctl::oCaptured) {
        const int i = control.index();
        if (i < 0 || i > kRingSize) return;
        // Elements made at start are copies of element 0 that the view has
        // not seen yet: show all of their state on first contact.
        if (!slotSynced_[static_cast<std::size_t>(i)]) {
            applyAll(control);
            return;
        }
    }
    apply(control, prop);
}

void MainWindow::applyAll(const Control& c) {
    if (c.id() == Ctl::oCaptured && c.index() >= 0 && c.index() <= kRingSize)
        slotSynced_[static_cast<std::size_t>(c.index())] = true;
    for (Prop p : {Prop::Geometry, Prop::Enabled, Prop::ToolTip, Prop::Value, Prop::Checked, Prop::Visible})
        apply(c, p);
    // Captions are shown by the labels only; the model of a menu entry
    // carries none of its own.
    if (c.id() == Ctl::lblSpeed || c.id() == Ctl::lblReviewTime) apply(c, Prop::Caption);
}

void MainWindow::apply(const Control& c, Prop prop) {
    if (QAction* a = actionOf(c.id())) {
        switch (prop) {
            case Prop::Visible: a->setVisible(c.visible()); break;
            case Prop::Enabled: a->setEnabled(c.enabled()); break;
            case Prop::Checked: a->setChecked(c.checked()); break;
            case Prop::Caption: a->setText(fromUtf8(c.caption())); break;
            case Prop::ToolTip: a->setToolTip(fromUtf8(c.toolTip())); break;
            default: break;
        }
        return;
    }
    QWidget* w = widgetOf(c.id(), c.index());
    if (!w) return;
    switch (prop) {
        case Prop::Visible:
            // It only holds pictures; it is never shown.
            if (c.id() == Ctl::cmdReviewPictures) break;
            if (c.id() == Ctl::oCaptured && c.visible() && !w->isVisible() && takeOverShownSlot(c.index())) break;
            w->setVisible(c.visible());
            break;
        case Prop::Enabled: w->setEnabled(c.enabled()); break;
        case Prop::Geometry:
            w->setGeometry(pixelRect(c));
            if (c.id() == Ctl::oCaptured) w->update();
            break;
        case Prop::Caption:
            if (auto* label = qobject_cast<QLabel*>(w)) label->setText(fromUtf8(c.caption()));
            break;
        case Prop::ToolTip: w->setToolTip(fromUtf8(c.toolTip())); break;
        case Prop::Value:
            if (c.id() == Ctl::cmdPlay) {
                syncPlayButton();
            } else if (c.id() == Ctl::cmdReview) {
                cmdReview_->setPicture(c.value());
            } else if (c.id() == Ctl::SpeedScrollBar) {
                const int position = kSpeedMax - c.value();
                // The model follows a dragged thumb; leave the drag alone.
                if (speed_->isSliderDown() && speed_->sliderPosition() == position) break;
                const QSignalBlocker block(speed_);
                speed_->setValue(position);
            }
            break;
        case Prop::Checked: break;
    }
}

// A review step shows another slot where one is shown already: the shown
// widget takes the new slot (and the new slot's hidden widget the old one)
// instead of one widget being hidden and another shown.  Showing a widget
// under the mouse pointer asks the X server where the pointer is and waits
// for the answer, and the step waits with it.
bool MainWindow::takeOverShownSlot(int index) {
    if (!frm_ || index < 1 || index > kRingSize) return false;
    for (int j = 1; j <= kRingSize; ++j) {
        SlotView* shown = slots_[static_cast<std::size_t>(j)];
        if (j == index || !shown->isVisible()) continue;
        std::swap(slots_[static_cast<std::size_t>(j)], slots_[static_cast<std::size_t>(index)]);
        for (int k : {j, index}) {
            SlotView* v = slots_[static_cast<std::size_t>(k)];
            v->setIndex(k);
            v->setFrameSlot(&frm_->capturedImage[static_cast<std::size_t>(k)]);
            v->setGeometry(pixelRect(frm_->oCaptured[static_cast<std::size_t>(k)]));
        }
        return true;
    }
    return false;
}

void MainWindow::syncPlayButton() {
    if (!frm_) return;
    const QSignalBlocker block(cmdPlay_);
    cmdPlay_->setChecked(frm_->cmdPlay.value() == 1);
}

void MainWindow::syncZoomChecks() {
    if (!frm_) return;
    zoom100_->setChecked(frm_->mnuZoom100.checked());
    zoom200_->setChecked(frm_->mnuZoom200.checked());
    zoomFit_->setChecked(frm_->mnuZoomFit.checked());
}

// ---- The window ----

int MainWindow::dotsPerInch() const {
    const QScreen* s = screen();
    if (!s) s = QGuiApplication::primaryScreen();
    const int dpi = s ? static_cast<int>(std::lround(s->logicalDotsPerInch())) : 96;
    return dpi > 0 ? dpi : 96;
}

double MainWindow::toTwips(int pixels) const { return pixels * 1440.0 / dotsPerInch(); }

int MainWindow::menuBarHeight(int width) const {
    const QMenuBar* bar = menuBar();
    if (!bar || bar->isHidden()) return 0;
    const int hfw = bar->heightForWidth(width);
    return hfw > 0 ? hfw : bar->sizeHint().height();
}

NonClientSize MainWindow::nonClientSize() const {
    // Around the client area there is only the menu bar.  The window
    // manager's frame is left out: it is unknown until the window is first
    // shown, and a size stored with it would not come back as the same size
    // at the next start.
    return {0, menuBarHeight(width())};
}

void MainWindow::setClientSize(int w, int h) {
    resize(w, h + menuBarHeight(w));
    // Lays the client area out now, also while the window is not shown yet.
    if (layout()) layout()->activate();
    // A window grown past the screen's edge is moved back onto it.
    const QScreen* s = screen();
    if (!s || !isVisible()) return;
    const QRect area = s->availableGeometry();
    const QRect frame = frameGeometry();
    QPoint to = frame.topLeft();
    if (frame.right() > area.right()) to.setX(std::max(area.left(), area.right() + 1 - frame.width()));
    if (frame.bottom() > area.bottom()) to.setY(std::max(area.top(), area.bottom() + 1 - frame.height()));
    if (to != frame.topLeft()) move(to);
}

ClientSize MainWindow::largestClientSize() const {
    const QScreen* s = screen();
    if (!s) s = QGuiApplication::primaryScreen();
    if (!s) return {};
    const QRect area = s->availableGeometry();
    // The window manager's frame is known once the window is shown; before
    // that room is left for a usual one.
    QSize frame = frameGeometry().size() - geometry().size();
    if (!isVisible()) frame = frame.expandedTo(QSize(8, 40));
    return {std::max(1, area.width() - frame.width()),
            std::max(1, area.height() - frame.height() - menuBarHeight(area.width()))};
}

WindowState MainWindow::windowState() const {
    const Qt::WindowStates s = QWidget::windowState();
    if (s & Qt::WindowMinimized) return WindowState::Minimized;
    if (s & Qt::WindowMaximized) return WindowState::Maximized;
    return WindowState::Normal;
}

void MainWindow::setWindowState(WindowState state) {
    if (!isVisible()) {
        // Before the window is shown: show() brings it up in this state.
        Qt::WindowStates s = QWidget::windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
        if (state == WindowState::Minimized) s |= Qt::WindowMinimized;
        if (state == WindowState::Maximized) s |= Qt::WindowMaximized;
        QWidget::setWindowState(s);
        return;
    }
    switch (state) {
        case WindowState::Normal: showNormal(); break;
        case WindowState::Minimized: showMinimized(); break;
        case WindowState::Maximized: showMaximized(); break;
    }
}

void MainWindow::setCaption(const std::string& caption) { setWindowTitle(fromUtf8(caption)); }

// A review step is painted and handed to the X server before the handler of
// its key or timer returns, not when the event loop next delivers the
// window's update request, after whatever else it has queued.
void MainWindow::showNow() {
    for (int i = 1; i <= kRingSize; ++i)
        if (QWidget* w = widgetOf(Ctl::oCaptured, i); w && w->isVisible()) {
            // A widget just shown has its update posted; taken now, the frame
            // is painted once.
            QCoreApplication::sendPostedEvents(w, QEvent::UpdateLater);
            // Whole rows of the window: the X server copies a picture of whole
            // rows of its shared memory in one go, and part of each row by way
            // of a pixmap, which took twice as long at 1080p.
            const QRect rows(0, w->mapTo(this, QPoint(0, 0)).y(), width(), w->height());
            repaint(rows);
            // Qt hands its requests to the X server when the event loop next
            // waits, which is after the next paint's: this one goes now.
            auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
            if (x11 && x11->connection()) xcb_flush(x11->connection());
            return;
        }
}

void MainWindow::setFocus(Ctl control) {
    // The procedures ask only for controls that can take the focus.
    if (QWidget* w = widgetOf(control)) w->setFocus(Qt::OtherFocusReason);
}

void MainWindow::unload() { close(); }

// Showing the window is its first resize: the player takes the size the
// checked zoom gives it.
void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (frm_ && !shown_ && !event->spontaneous()) {
        shown_ = true;
        frm_->Form_Resize();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (frm_ && !unloadReported_) {
        unloadReported_ = true;
        frm_->Form_Unload();
    }
    event->accept();
}

// ---- Drops ----

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    // Anything may be dropped; the procedure tells the user what it cannot use.
    event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    if (const QMimeData* mime = event->mimeData(); mime && mime->hasUrls()) {
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile()) files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    event->acceptProposedAction();
    // Opened once the drop is over, so that the file manager is not kept
    // waiting while the video opens or a message is read.
    QMetaObject::invokeMethod(
        this, [this, files] {
            if (frm_) frm_->Form_OLEDragDrop(files);
        },
        Qt::QueuedConnection);
}

// ---- Events seen before the controls ----

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();
    if (watched == client_ && t == QEvent::Resize) {
        if (frm_) {
            const QSize s = static_cast<QResizeEvent*>(event)->size();
            frm_->clientResized(s.width(), s.height());
        }
        return false;
    }
    if (watched == this && t == QEvent::WindowDeactivate) {
        // Keys held now come up where this window does not see them.
        deliverPendingReleases();
        heldKeys_.clear();
    }
    if ((t == QEvent::KeyPress || t == QEvent::KeyRelease || t == QEvent::ShortcutOverride) &&
        watched->isWidgetType())
        return handleKey(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event));
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::handleKey(QWidget* receiver, QKeyEvent* event) {
    if (!frm_) return false;
    if (receiver->window() != this) {
        // A menu or a dialog has the key now; its release is not ours to see.
        if (auto held = heldKeys_.find(event->key()); held != heldKeys_.end()) {
            const HeldKey h = held->second;
            heldKeys_.erase(held);
            if (h.releasePending) frm_->Form_KeyUp(keyCodeOf(event->key()), h.shift);
        }
        return false;
    }
    // An event the focused control did not take travels on to its parents;
    // the window has seen it already.
    if (event == keyEvent_ && event->type() == keyType_ && event->key() == keyKey_ &&
        event->timestamp() == keyTime_ && keyReceiver_ && keyReceiver_ != receiver &&
        receiver->isAncestorOf(keyReceiver_))
        return false;
    keyEvent_ = event;
    keyReceiver_ = receiver;
    keyType_ = event->type();
    keyKey_ = event->key();
    keyTime_ = event->timestamp();

    const int qtKey = event->key();
    const int code = keyCodeOf(qtKey);
    const bool windowKey = code == key::F4 || code == key::F5 || code == key::F6;
    const quint64 time = event->timestamp();
    auto held = heldKeys_.find(qtKey);

    if (event->type() == QEvent::ShortcutOverride) {
        // Every press is offered to the shortcuts before it is delivered. A
        // repeat is kept from them: taken here, it is delivered as a key
        // press and passed over below, so a held F7 plays or pauses once.
        if (event->isAutoRepeat() || (held != heldKeys_.end() && isRepeat(held->second, time))) {
            if (held != heldKeys_.end()) held->second.pressUnseen = false;  // a shortcut took the first
            event->accept();
            return true;
        }
        // A new press: the key's earlier release, if still waiting, came first.
        if (held != heldKeys_.end()) {
            if (held->second.releasePending) frm_->Form_KeyUp(code, held->second.shift);
            heldKeys_.erase(held);
        }
        deliverPendingReleases();
        if (frm_) heldKeys_[qtKey].pressUnseen = true;
        return false;
    }

    if (event->type() == QEvent::KeyRelease) {
        // A release marked as a repeat is no release.
        if (event->isAutoRepeat()) return true;
        if (held == heldKeys_.end() || time == 0) {
            // A key that went down elsewhere, or an event made up without a
            // time: nothing to pair it with.
            if (held != heldKeys_.end()) {
                const bool delivered = held->second.releaseDelivered;
                heldKeys_.erase(held);
                if (delivered) return windowKey;
            }
            frm_->Form_KeyUp(code, shiftMaskOf(event->modifiers()));
            return windowKey;
        }
        if (held->second.releaseDelivered) {
            heldKeys_.erase(held);  // the key is up at last; it was reported up before
            return windowKey;
        }
        held->second.releasePending = true;
        held->second.releaseTime = time;
        held->second.shift = shiftMaskOf(event->modifiers());
        releaseTimer_.start(kRepeatPairWaitMs);
        return windowKey;
    }

    if (held != heldKeys_.end()) {
        HeldKey& h = held->second;
        if (h.pressUnseen && !event->isAutoRepeat()) {
            // The press offered as a shortcut that none took.
            h.pressUnseen = false;
            frm_->Form_KeyDown(code, shiftMaskOf(event->modifiers()));
            return windowKey;
        }
        if (event->isAutoRepeat() || isRepeat(h, time)) {
            // Still the same press: a repeat, marked or not.
            h.releasePending = false;
            return windowKey;
        }
        // The key came up and went down again: first the release.
        if (h.releasePending) frm_->Form_KeyUp(code, h.shift);
        heldKeys_.erase(held);
    } else if (event->isAutoRepeat()) {
        // The press was not seen here (the key went down elsewhere).
        return windowKey;
    }
    // Releases still waiting happened before this press.
    deliverPendingReleases();
    if (!frm_) return windowKey;
    heldKeys_[qtKey] = HeldKey{};
    frm_->Form_KeyDown(code, shiftMaskOf(event->modifiers()));
    // F4, F5 and F6 belong to the window alone.
    return windowKey;
}

bool MainWindow::isRepeat(const HeldKey& h, quint64 time) {
    // A press paired with the release just before it, or a press alone.
    const bool pairedRepeat = (h.releasePending || h.releaseDelivered) && time == h.releaseTime && time != 0;
    return pairedRepeat || (!h.releasePending && !h.releaseDelivered);
}

void MainWindow::deliverPendingReleases() {
    releaseTimer_.stop();
    std::vector<std::pair<int, int>> releases;  // code, shift
    for (auto& [qtKey, h] : heldKeys_) {
        if (!h.releasePending) continue;
        // A press with the release's time may still come late: it is then
        // taken as a repeat, and the key's real release is not reported again.
        h.releasePending = false;
        h.releaseDelivered = true;
        releases.emplace_back(keyCodeOf(qtKey), h.shift);
    }
    for (const auto& [code, shift] : releases)
        if (frm_) frm_->Form_KeyUp(code, shift);
}

}  // namespace velmora

#include "moc_main_window.cpp"

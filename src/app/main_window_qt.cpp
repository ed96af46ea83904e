#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <cmath>

#include "app/frm_main.h"
#include "app/images.h"
#include "base/errors.h"
#include "base/qt_text.h"

namespace velmora {

namespace {

constexpr int kDesignClientWidth = 592;
constexpr int kDesignClientHeight = 551;
// The speed scroll bar's model values run from 0 (normal) to 2 (very slow).
constexpr int kSpeedMax = 2;
// How long the window manager has to answer a size asked for the shown window.
constexpr int kSizeAnswerMs = 1000;

QRect pixelRect(const Control& c) {
    const auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(c.left()), px(c.top()), px(c.width()), px(c.height()));
}

}  // namespace

// ---- MainWindow ----

MainWindow::MainWindow(QWidget* playerWidget) : player_(playerWidget), keys_(heldKeysRepeatAsUnmarkedPairs()) {
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
    connect(&releaseTimer_, &QTimer::timeout, this, [this] { deliverKeys(keys_.waitOver()); });
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, &MainWindow::judgeGivenSize);
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
    // A Wayland compositor that keeps the window at a size of its own does not
    // answer a size the program gives it: the window would be shown smaller
    // than its place there, in the middle of it.  It keeps the size it got.
    if (sizeKept_ && isVisible() && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        if (frm_) frm_->clientResized(client_->width(), client_->height());
        return;
    }
    resize(w, h + menuBarHeight(w));
    askedSize_ = size();
    if (isVisible()) answerTimer_.start(kSizeAnswerMs);
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
        shownSize_ = size();
        firstSize_.start();
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
        releaseTimer_.stop();
        deliverKeys(keys_.focusLost());
    }
    if ((t == QEvent::KeyPress || t == QEvent::KeyRelease || t == QEvent::ShortcutOverride) &&
        watched->isWidgetType())
        return handleKey(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event));
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace velmora

#include "moc_main_window.cpp"

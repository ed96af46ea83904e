// The main window on Qt Widgets: builds the controls as designed, passes
// their events to FrmMain's procedures and shows every change of the model.
// Defined in main_window_qt.cpp, with the slots and the review button in
// controls_qt.cpp, the menu bar in menus_qt.cpp, drops in drops_qt.cpp and
// the keys in keys_qt.cpp and key_repeat_qt.cpp.
#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>

#include "app/form_view.h"
#include "app/key_filter.h"
#include "capture/frame_slot.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QScrollBar;
class QKeyEvent;

namespace velmora {

class FrmMain;

// A frame slot of the ring: shows its FrameSlot's pixels 1:1 from the
// top-left corner, wrapped in a QImage on every paint, never copied.
class SlotView : public QWidget {
    Q_OBJECT

public:
    SlotView(int index, QWidget* parent);
    int index() const { return index_; }
    void setIndex(int index);
    void setFrameSlot(const FrameSlot* slot);
    const FrameSlot* frameSlot() const { return slot_; }

    // button (1 left, 2 right, 4 middle), shift mask, position in pixels.
    std::function<void(int button, int shift, QPoint pos)> onMouseDown;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int index_;
    const FrameSlot* slot_ = nullptr;
};

// The review button: a sunken picture box showing one of the review images,
// answering the left, right and middle mouse buttons.
class ReviewButton : public QFrame {
    Q_OBJECT

public:
    explicit ReviewButton(QWidget* parent);
    // 0 idle, 1 forward, 2 back (ReviewPicture).
    void setPicture(int which);
    int picture() const { return picture_; }

    std::function<void(int button, int shift, QPoint pos)> onMouseDown;
    std::function<void()> onMouseUp;
    std::function<void()> onClick;
    std::function<void()> onKeyUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    int picture_ = 0;
    Qt::MouseButtons down_;
};

// Key code of a Qt key as the keyboard handlers see it (F4..F7 are 115..118).
int keyCodeOf(int qtKey);
// Shift 1, Ctrl 2, Alt 4.
int shiftMaskOf(Qt::KeyboardModifiers modifiers);
// Whether a held key can repeat as release/press pairs that are not marked as
// repeats; on X11 first asks the server for presses alone.
bool heldKeysRepeatAsUnmarkedPairs();

class MainWindow : public QMainWindow, public FormView {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* playerWidget);
    ~MainWindow() override;

    // Connects the window's procedures and shows their model as it is now.
    void bind(FrmMain& frm);

    // The client area: every control is a child of it.
    QWidget* clientArea() const { return client_; }
    QWidget* playerWidget() const { return player_; }
    // The widget of a control (nullptr for menu entries).  SpeedScrollBar's
    // widget counts from the left: its value is 2 minus the model's.
    QWidget* widgetOf(Ctl id, int index = 0) const;
    // The menu entry of a control (the zoom entries), else nullptr.
    QAction* actionOf(Ctl id) const;

    // FormView
    void controlChanged(const Control& control, Prop prop) override;
    int dotsPerInch() const override;
    NonClientSize nonClientSize() const override;
    void setClientSize(int w, int h) override;
    ClientSize largestClientSize() const override;
    bool sizeKept() const override { return sizeKept_; }
    WindowState windowState() const override;
    void setWindowState(WindowState state) override;
    void setCaption(const std::string& caption) override;
    void setFocus(Ctl control) override;
    void showNow() override;
    void showBeforeOpening() override {
        if (!isVisible()) show();
    }
    using QWidget::setFocus;
    void unload() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    QAction* addEntry(QMenu* menu, const char* name, const char* caption, std::function<void()> handler,
                      QKeySequence shortcut = {});
    void apply(const Control& control, Prop prop);
    bool takeOverShownSlot(int index);
    void applyAll(const Control& control);
    void syncZoomChecks();
    void syncPlayButton();
    int menuBarHeight(int width) const;
    double toTwips(int pixels) const;
    bool handleKey(QWidget* receiver, QKeyEvent* event);
    void deliverKeys(const std::vector<KeyAction>& actions);

    // Once the window manager has had time to answer the size asked last:
    // whether it keeps the window at another size.
    void judgeGivenSize();

    FrmMain* frm_ = nullptr;
    bool unloadReported_ = false;
    bool shown_ = false;
    QSize askedSize_;
    QSize shownSize_;  // the size the window was first shown at
    bool sizeKept_ = false;
    QTimer answerTimer_;
    QElapsedTimer firstSize_;  // since the window was first shown, until it got a size

    QWidget* client_ = nullptr;
    QPushButton* cmdPlay_ = nullptr;
    ReviewButton* cmdReview_ = nullptr;
    QFrame* frReviewTime_ = nullptr;
    QLabel* lblReviewTime_ = nullptr;
    QLabel* lblSpeed_ = nullptr;
    QScrollBar* speed_ = nullptr;
    QWidget* player_ = nullptr;
    std::array<SlotView*, 51> slots_{};
    std::array<bool, 51> slotSynced_{};
    QLabel* lblHider_ = nullptr;
    QPushButton* cmdReviewPictures_ = nullptr;

    QAction* zoom100_ = nullptr;
    QAction* zoom200_ = nullptr;
    QAction* zoomFit_ = nullptr;

    // The key event being delivered: Qt offers it to the application's
    // filters again at every parent it propagates to.
    const QEvent* keyEvent_ = nullptr;
    QPointer<QWidget> keyReceiver_;
    int keyType_ = 0;
    int keyKey_ = 0;
    quint64 keyTime_ = 0;

    // Presses and releases for the procedures, however the platform repeats
    // a held key; the releases that wait for a repeat's press wait on the timer.
    KeyFilter keys_;
    QTimer releaseTimer_;
    // Delivered in order, one at a time: a procedure that runs an event loop
    // (a dialog) adds to the queue rather than passing on ahead of it.
    std::deque<KeyAction> keyQueue_;
    bool deliveringKeys_ = false;
};

}  // namespace velmora

// The main window on Qt Widgets: builds the controls as designed, passes
// their events to FrmMain's procedures and shows every change of the model.
#pragma once

#include <QFrame>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <map>

#include "app/form_view.h"
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
    WindowState windowState() const override;
    void setWindowState(WindowState state) override;
    void setCaption(const std::string& caption) override;
    void setFocus(Ctl control) override;
    void showNow() override;
    using QWidget::setFocus;
    void unload() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
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
    // Passes on the releases that no repeated press has taken back.
    void deliverPendingReleases();

    FrmMain* frm_ = nullptr;
    bool unloadReported_ = false;
    bool shown_ = false;

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

    // The keys that are down, as the procedures have been told. A held key
    // repeats as release/press pairs with one timestamp, not always marked as
    // repeats, or as presses alone: the procedures see one press when the key
    // goes down and one release when it comes up. A press is first offered
    // to the menu shortcuts; one that a shortcut took is never delivered, so
    // the key is counted as down from that offer on.
    struct HeldKey {
        bool pressUnseen = false;  // offered as a shortcut, not delivered yet
        bool releasePending = false;  // released; a press may yet take it back
        bool releaseDelivered = false;  // the procedures had the release already
        quint64 releaseTime = 0;
        int shift = 0;
    };
    std::map<int, HeldKey> heldKeys_;  // by Qt key
    static bool isRepeat(const HeldKey& h, quint64 time);
    QTimer releaseTimer_;
};

}  // namespace velmora

// The strip of controls along the player's bottom edge: a tracker to seek,
// play/pause, mute and volume, and a status line with state and position.
#pragma once

#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace velmora {

class MpvControlStrip : public QWidget {
    Q_OBJECT

public:
    explicit MpvControlStrip(QWidget* parent = nullptr);

    void showPlayState(int playState);
    void showTimes(double position, double duration);
    void showMuted(bool muted);
    // A live source's state ("LIVE", "-12.4 s", the lost signal) in place
    // of the times; empty for a file.
    void showLive(const QString& text);
    // Instead of "No media" while a file or a live source is being opened.
    void showOpening(bool opening);

signals:
    void playPauseClicked();
    void muteClicked();
    void volumeChanged(int percent);
    void seekRequested(double seconds);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshStatus();

    QSlider* tracker_;
    QToolButton* playButton_;
    QToolButton* muteButton_;
    QSlider* volume_;
    QLabel* status_;
    int playState_ = 6;
    double position_ = 0;
    double duration_ = 0;
    QString live_;
    bool opening_ = false;
};

}  // namespace velmora

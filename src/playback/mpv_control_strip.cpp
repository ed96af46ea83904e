#include "playback/mpv_control_strip.h"

#include <QLabel>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cmath>

#include "playback/player_port.h"

namespace velmora {
namespace {

// A tracker that jumps to the clicked place instead of paging towards it.
// With tracking off it reports a new value on the click and on the release
// of a drag, never for every pixel dragged.
class SeekSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && maximum() > minimum()) {
            QStyleOptionSlider opt;
            initStyleOption(&opt);
            const QRect handle =
                style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
            if (!handle.contains(event->position().toPoint())) {
                const int span = width() - handle.width();
                const int x = qRound(event->position().x()) - handle.width() / 2;
                setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span));
            }
        }
        QSlider::mousePressEvent(event);
    }
};

// Whole seconds as m:ss, or h:mm:ss from an hour on.  A length no file
// really has (beyond some thousand years) is shown at that limit.
QString clockText(double seconds) {
    constexpr double kLongest = 1e11;
    const long long s =
        std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(std::min(seconds, kLongest)) : 0;
    const QLatin1Char zero('0');
    if (s < 3600) return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, zero);
    return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, zero).arg(s % 60, 2, 10, zero);
}

// Seconds as tracker milliseconds, 0 to INT_MAX (almost 25 days).  An
// unknown length (NaN, infinite) gives 0, which leaves the tracker off.
int trackerMs(double seconds) {
    const double ms = seconds * 1000;
    if (!std::isfinite(ms) || ms <= 0) return 0;
    if (ms >= double{INT_MAX}) return INT_MAX;
    return static_cast<int>(ms);
}

}  // namespace

MpvControlStrip::MpvControlStrip(QWidget* parent)
    : QWidget(parent),
      tracker_(new SeekSlider(Qt::Horizontal, this)),
      playButton_(new QToolButton(this)),
      muteButton_(new QToolButton(this)),
      volume_(new QSlider(Qt::Horizontal, this)),
      status_(new QLabel(this)) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(212, 208, 200));
    pal.setColor(QPalette::Button, QColor(212, 208, 200));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);

    tracker_->setTracking(false);
    tracker_->setRange(0, 0);
    tracker_->setEnabled(false);
    connect(tracker_, &QSlider::valueChanged, this, [this](int ms) { emit seekRequested(ms / 1000.0); });

    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    playButton_->setToolTip(QStringLiteral("Play"));
    connect(playButton_, &QToolButton::clicked, this, &MpvControlStrip::playPauseClicked);

    muteButton_->setIcon(style()->standardIcon(QStyle::SP_MediaVolume));
    muteButton_->setToolTip(QStringLiteral("Mute"));
    connect(muteButton_, &QToolButton::clicked, this, &MpvControlStrip::muteClicked);

    volume_->setRange(0, 100);
    volume_->setValue(100);
    volume_->setToolTip(QStringLiteral("Volume"));
    connect(volume_, &QSlider::valueChanged, this, &MpvControlStrip::volumeChanged);

    for (QWidget* w : std::initializer_list<QWidget*>{tracker_, playButton_, muteButton_, volume_, status_})
        w->setFocusPolicy(Qt::NoFocus);

    // Rows 2 and 3 start at x = 100: the window covers the corner left of it.
    playButton_->setGeometry(100, 22, 32, 25);
    muteButton_->setGeometry(136, 22, 32, 25);
    volume_->setGeometry(174, 22, 100, 25);
    refreshStatus();
}

void MpvControlStrip::resizeEvent(QResizeEvent*) {
    tracker_->setGeometry(0, 2, width(), 19);
    status_->setGeometry(100, 48, std::max(0, width() - 104), 21);
}

void MpvControlStrip::showPlayState(int playState) {
    if (playState == playState_) return;
    playState_ = playState;
    const bool playing = playState == play_state::kPlaying;
    playButton_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    playButton_->setToolTip(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    if (playState == play_state::kNoMedia) showTimes(0, 0);
    refreshStatus();
}

void MpvControlStrip::showTimes(double position, double duration) {
    position_ = position;
    duration_ = duration;
    const int max = trackerMs(duration);
    tracker_->setEnabled(max > 0);
    if (!tracker_->isSliderDown()) {
        const QSignalBlocker quiet(tracker_);  // moving the tracker here is no seek request
        tracker_->setRange(0, max);
        tracker_->setValue(std::min(trackerMs(position), max));
    }
    refreshStatus();
}

void MpvControlStrip::showMuted(bool muted) {
    muteButton_->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    muteButton_->setToolTip(muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"));
}

void MpvControlStrip::showOpening(bool opening) {
    if (opening == opening_) return;
    opening_ = opening;
    refreshStatus();
}

void MpvControlStrip::showLive(const QString& text) {
    if (text == live_) return;
    live_ = text;
    refreshStatus();
}

void MpvControlStrip::refreshStatus() {
    QString state;
    switch (playState_) {
        case play_state::kPlaying:
            state = QStringLiteral("Playing");
            break;
        case play_state::kPaused:
            state = QStringLiteral("Paused");
            break;
        case play_state::kStopped:
            state = QStringLiteral("Stopped");
            break;
        default:
            status_->setText(opening_ ? QStringLiteral("Opening...") : QStringLiteral("No media"));
            return;
    }
    if (!live_.isEmpty())
        status_->setText(QStringLiteral("%1    %2").arg(state, live_));
    else
        status_->setText(QStringLiteral("%1    %2 / %3").arg(state, clockText(position_), clockText(duration_)));
}

}  // namespace velmora

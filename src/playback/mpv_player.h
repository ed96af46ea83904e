// The video player widget on libmpv: the picture, rendered by mpv's software
// renderer into an image of the video area (or, while the window shows it,
// straight into the window's backing store), and the control strip below it.
// The file, its play state and everything else mpv is asked for are the
// session's (MpvSession); the widget takes the pictures from it.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "playback/mpv_picture.h"
#include "playback/mpv_session.h"
#include "playback/player_port.h"
#include "playback/tone_map.h"

class QPainter;
class QRegion;
struct mpv_render_context;

namespace velmora {

class MpvControlStrip;

class MpvPlayer : public QWidget, public PlayerPort {
    Q_OBJECT

public:
    explicit MpvPlayer(QWidget* parent = nullptr, MpvOptions options = {});
    ~MpvPlayer() override;

    void setFileName(const std::string& path) override { session_->setFileName(path); }
    std::string fileName() const override { return session_->fileName(); }
    double currentPosition() const override { return session_->currentPosition(); }
    void setCurrentPosition(double seconds) override { session_->setCurrentPosition(seconds); }
    std::string errorDescription() const override { return session_->errorDescription(); }
    int playState() const override { return session_->playState(); }
    void setSlowSpeed(bool slow) override { session_->setSlowSpeed(slow); }
    void play() override { session_->play(); }
    void pause() override { session_->pause(); }
    int naturalWidth() const override { return session_->videoWidth(); }
    int naturalHeight() const override { return session_->videoHeight() + kControlStripHeight; }
    bool setLiveSource(const MediaSource& source, const std::vector<PlayerOption>& options) override {
        return session_->setLiveSource(source, options);
    }
    bool live() const override { return session_->live(); }
    void goLive() override { session_->goLive(); }
    void setLiveDelay(int seconds) override { session_->setLiveDelay(seconds); }
    bool liveHeld() const override { return session_->liveHeld(); }
    long long picturesShown() const override { return renderedFrames_; }

    // The session behind the player: the file, seeking and mpv's properties.
    MpvSession& session() { return *session_; }

    // The picture exactly as painted in the video area, and that area.  While
    // frames go straight to the window's backing store this is the backing
    // store's memory of the area: valid until the window next paints.
    const QImage& videoImage();
    QRect videoRect() const;

    long long renderedFrames() const { return renderedFrames_; }
    // mpv's own counts of frames dropped at output and at decoding.
    long long frameDropCount() const { return session_->frameDropCount(); }
    long long decoderFrameDropCount() const { return session_->decoderFrameDropCount(); }

signals:
    void frameRendered();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const QImage& image() const { return picture_.image(); }
    void renderFrame(bool fromUpdate);
    void updateVideoRows();
    // The size the next picture is drawn at: the video area's, or while the
    // area keeps changing, the size the picture has now.
    QSize pictureSize(bool wanted);
    // Draws the still picture again when it is not the video area's size.
    void redrawAtAreaSize();
    // Makes the picture `size`, black when `clear`.
    void ensureImage(QSize size, bool clear);
    void clearPicture();
    // Has mpv draw its current frame into `pixels`; false when it could not.
    bool renderInto(uchar* pixels, QSize size, std::size_t stride);
    // The window's backing store image when `painter` paints into it.
    QImage* paintedStore(QPainter& painter);
    // Where in `store` the video area is painted, when a frame can be drawn
    // there directly by `painter` for `region`; a null image when it cannot.
    QImage storeArea(QPainter& painter, QImage& store, const QRegion& region);
    // Whether the area recorded at the last direct paint is still the
    // backing store's picture of the video area (also while it is hidden,
    // until it is painted over), and the player is shown.
    bool screenInStore();
    bool screenValid();
    // Brings the picture up to the frame on the screen when frames went direct.
    void syncImage();
    // The same with the frame taken from the screen, while the backing store
    // still holds it: mpv has no frame to draw again while a live source is
    // opened again, and a hidden player's area is soon painted over.
    void keepScreen();
    void refreshStrip();

    MpvControlStrip* strip_;
    std::unique_ptr<MpvSession> session_;
    mpv_render_context* render_ = nullptr;  // freed before the session goes
    std::atomic<bool> renderQueued_{false};

    MpvPicture picture_;
    bool stripDirty_ = true;
    bool pictureShown_ = false;  // the picture holds a frame of the open file
    bool redrawQueued_ = false;  // a still picture is drawn again at a new size
    // Frames at the area's size are drawn by mpv straight into the window's
    // backing store (saving a copy of every frame) while the window paints
    // the whole video area into its backing store image; the picture then lags.
    bool direct_ = false;      // the last paint of the video area went direct
    bool imageStale_ = false;  // the picture lags the frame on the screen
    QImage screen_;            // the video area in the backing store, at the last direct paint
    const uchar* storeBits_ = nullptr;
    QSize storeSize_;
    QRect screenArea_;            // videoRect() at the last direct paint
    QPoint screenOrigin_;         // where the widget was in its window then
    QElapsedTimer sinceResized_;  // since the picture last took a new size
    QTimer* resizeHold_;          // draws the picture at the area's size when the hold is over

    ToneMap toneMap_;  // HDR video's light into the picture

    long long renderedFrames_ = 0;
};

}  // namespace velmora

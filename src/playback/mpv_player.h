// The video player widget on libmpv: the picture, rendered by mpv's software
// renderer into an image of the video area (or, while the window shows it,
// straight into the window's backing store), and the control strip below it.
//
// All libmpv calls made on the UI thread (which also renders) are
// asynchronous; mpv's answers arrive as events that are drained on the UI
// thread.  setFileName() is the exception in shape only: it waits for the
// open in a nested event loop that leaves user input queued.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "playback/player_port.h"

class QPainter;
class QRegion;
struct mpv_handle;
struct mpv_render_context;
struct mpv_event;

namespace velmora {

class MpvControlStrip;
struct PictureMemory;

struct MpvOptions {
    std::string audioOutput;  // "" = mpv's default (PulseAudio, PipeWire or ALSA); "null" = silent
    int openTimeoutMs = 15000;
};

class MpvPlayer : public QWidget, public PlayerPort {
    Q_OBJECT

public:
    explicit MpvPlayer(QWidget* parent = nullptr, MpvOptions options = {});
    ~MpvPlayer() override;

    void setFileName(const std::string& path) override;
    std::string fileName() const override { return fileName_; }
    double currentPosition() const override;
    void setCurrentPosition(double seconds) override;
    std::string errorDescription() const override { return error_; }
    int playState() const override { return playState_; }
    void setSlowSpeed(bool slow) override;
    void play() override;
    void pause() override;
    int naturalWidth() const override { return videoWidth_; }
    int naturalHeight() const override { return videoHeight_ + kControlStripHeight; }

    // The picture exactly as painted in the video area, and that area.  While
    // frames go straight to the window's backing store this is the backing
    // store's memory of the area: valid until the window next paints.
    const QImage& videoImage();
    QRect videoRect() const;

    long long renderedFrames() const { return renderedFrames_; }
    // mpv's own counts of frames dropped at output and at decoding.
    long long frameDropCount() const { return frameDrops_; }
    long long decoderFrameDropCount() const { return decoderFrameDrops_; }

signals:
    void frameRendered();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct OpenAttempt;

    void drainEvents();
    void handleEvent(const mpv_event& event);
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
    // backing store's picture of the video area.
    bool screenValid();
    // Brings image_ up to the frame on the screen when frames went direct.
    void syncImage();

    void command(std::initializer_list<const char*> args, std::uint64_t reply = 0);
    void setFlag(const char* name, bool value);
    void setPlayState(int state);
    // Follows mpv's report that the open file's end is or is no longer reached.
    void followEnd(bool atEnd);
    void closeMedia();
    // Drops everything known about the open file and clears the picture.
    void forgetMedia();
    void seekTo(double seconds);
    void failOpen(std::string description);
    void applyMute();
    void refreshStrip();

    MpvOptions options_;
    mpv_handle* mpv_ = nullptr;
    mpv_render_context* render_ = nullptr;
    std::atomic<bool> drainQueued_{false};
    std::atomic<bool> renderQueued_{false};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    MpvControlStrip* strip_;
    QImage image_;
    PictureMemory* picture_ = nullptr;  // image_'s memory, while image_ holds it

    OpenAttempt* open_ = nullptr;
    std::uint64_t openSerial_ = 0;      // counts open attempts; tags their replies
    std::int64_t mediaEntryId_ = -1;    // playlist entry of the open media
    std::int64_t currentEntryId_ = -1;  // entry mpv started last
    std::uint64_t rotationHook_ = 0;    // the file-preloaded hook mpv waits on
    std::string fileName_;
    std::string error_;
    int playState_ = play_state::kNoMedia;
    bool hasVideo_ = false;
    int videoWidth_ = 320;
    int videoHeight_ = 0;

    double timePos_ = 0;
    double duration_ = 0;
    bool eofReached_ = false;
    std::optional<double> pendingSeek_;  // asked for, not yet reported by mpv
    std::uint64_t seekGeneration_ = 0;
    std::uint64_t seekAcked_ = 0;

    bool userMuted_ = false;
    bool slow_ = false;
    bool stripDirty_ = true;
    bool pictureShown_ = false;  // the image holds a frame of the open file
    bool redrawQueued_ = false;  // a still picture is drawn again at a new size
    // Frames at the area's size are drawn by mpv straight into the window's
    // backing store (saving a copy of every frame) while the window paints
    // the whole video area into its backing store image; image_ then lags.
    bool direct_ = false;      // the last paint of the video area went direct
    bool imageStale_ = false;  // image_ lags the frame on the screen
    QImage screen_;            // the video area in the backing store, at the last direct paint
    const uchar* storeBits_ = nullptr;
    QSize storeSize_;
    QRect screenArea_;            // videoRect() at the last direct paint
    QPoint screenOrigin_;         // where the widget was in its window then
    QElapsedTimer sinceResized_;  // since the picture last took a new size
    QTimer* resizeHold_;          // draws the picture at the area's size when the hold is over

    long long renderedFrames_ = 0;
    long long frameDrops_ = 0;
    long long decoderFrameDrops_ = 0;
};

}  // namespace velmora

#include "playback/mpv_player.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QBackingStore>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "base/qt_window_store.h"
#include "capture/opaque_rows.h"
#include "playback/mpv_control_strip.h"

namespace velmora {

namespace {

// Whether the window's alpha byte counts: a Wayland compositor blends the
// window with what lies behind it by that byte, an X server at depth 24
// ignores it.
bool alphaShown() {
    static const bool shown = QGuiApplication::platformName() != QLatin1String("xcb");
    return shown;
}

// mpv leaves the fourth byte of "bgr0" at 0; an opaque picture has 0xFF
// there.  The capture's row copy sets it, here in place.
void makeOpaque(uchar* pixels, QSize size, std::size_t stride) {
    copyOpaqueRows(reinterpret_cast<Pixel*>(pixels), stride / sizeof(Pixel), pixels, stride, size.width(),
                   size.height(), SlotStores::Cached);
}

}  // namespace

MpvPlayer::MpvPlayer(QWidget* parent, MpvOptions options)
    : QWidget(parent),
      strip_(new MpvControlStrip(this)),
      session_(std::make_unique<MpvSession>(std::move(options))) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::NoContextMenu);

    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, session_->handle(), params) < 0)
        throw std::runtime_error("The video player could not be started.");
    // The callback runs on mpv's threads: it only queues one render on the
    // UI thread at a time.
    mpv_render_context_set_update_callback(
        render_,
        [](void* p) {
            auto* self = static_cast<MpvPlayer*>(p);
            if (!self->renderQueued_.exchange(true))
                QMetaObject::invokeMethod(
                    self, [self] { self->renderFrame(true); }, Qt::QueuedConnection);
        },
        this);

    connect(session_.get(), &MpvSession::playStateChanged, this, [this](int previous, int state) {
        strip_->showPlayState(state);
        raisePlayStateChange(previous, state);
    });
    connect(session_.get(), &MpvSession::openStateChanged, this,
            [this](int previous, int state) { raiseOpenStateChange(previous, state); });
    connect(session_.get(), &MpvSession::timesChanged, this, [this] { stripDirty_ = true; });
    connect(session_.get(), &MpvSession::videoSizeChanged, this, [this] { raiseVideoSizeChange(); });
    connect(session_.get(), &MpvSession::mutedChanged, strip_, &MpvControlStrip::showMuted);
    connect(session_.get(), &MpvSession::mediaForgotten, this, &MpvPlayer::clearPicture);
    connect(session_.get(), &MpvSession::reopening, this, &MpvPlayer::keepScreen);
    connect(session_.get(), &MpvSession::transferChanged, this, [this](Transfer transfer, double peak) {
        if (toneMap_.follow(transfer, peak) && pictureShown_)
            renderFrame(false);  // the picture shown was drawn the other way
    });

    connect(strip_, &MpvControlStrip::playPauseClicked, this,
            [this] { playState() == play_state::kPlaying ? pause() : play(); });
    connect(strip_, &MpvControlStrip::muteClicked, session_.get(), &MpvSession::toggleMute);
    connect(strip_, &MpvControlStrip::volumeChanged, session_.get(), &MpvSession::setVolume);
    connect(strip_, &MpvControlStrip::seekRequested, session_.get(), &MpvSession::setCurrentPosition);
    resizeHold_ = new QTimer(this);
    resizeHold_->setSingleShot(true);
    connect(resizeHold_, &QTimer::timeout, this, &MpvPlayer::redrawAtAreaSize);
    auto* stripTimer = new QTimer(this);
    connect(stripTimer, &QTimer::timeout, this, &MpvPlayer::refreshStrip);
    stripTimer->start(200);
}

MpvPlayer::~MpvPlayer() {
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
}

QRect MpvPlayer::videoRect() const {
    return {0, 0, width(), std::max(0, height() - kControlStripHeight)};
}

// ---- Picture -----------------------------------------------------------

// mpv's software renderer makes its scaler anew for every size it draws at,
// which takes longer than drawing a frame.  A window being dragged passes
// through a new size at nearly every frame: the picture takes the newest size
// at most once per kResizeHoldMs and keeps its size in between (painted
// clipped, or with black beside it), until the hold is over.
constexpr int kResizeHoldMs = 100;

QSize MpvPlayer::pictureSize(bool wanted) {
    const QSize area = videoRect().size();
    if (image().size() == area) return area;
    if (wanted && pictureShown_ && sinceResized_.isValid() && sinceResized_.elapsed() < kResizeHoldMs) {
        // A playing video's next frame after the hold takes the new size;
        // the timer is there for a still picture, or frames far apart.
        const int wait = static_cast<int>(kResizeHoldMs - sinceResized_.elapsed()) +
                         (playState() == play_state::kPlaying ? kResizeHoldMs : 0);
        if (!resizeHold_->isActive()) resizeHold_->start(wait);
        return image().size();
    }
    // The first picture of a video is no resize: the area may take the
    // video's size right after it, and the next frame is drawn at that size.
    if (pictureShown_)
        sinceResized_.start();
    else
        sinceResized_.invalidate();
    return area;
}

void MpvPlayer::redrawAtAreaSize() {
    if (pictureShown_ && image().size() != videoRect().size()) renderFrame(false);
}

void MpvPlayer::ensureImage(QSize size, bool clear) {
    if (image().size() == size) return;
    // Without the memory for it the image stays null: the video area shows
    // black and frames are taken from mpv without being drawn.
    picture_.resize(size);
    if (clear) picture_.fillBlack();
    pictureShown_ = false;
}

void MpvPlayer::clearPicture() {
    picture_.fillBlack();
    pictureShown_ = false;
    imageStale_ = false;
    direct_ = false;
    update(videoRect());
}

bool MpvPlayer::renderInto(uchar* pixels, QSize size, std::size_t stride) {
    alignas(64) static unsigned char scratch[64];
    int skip = pixels ? 0 : 1;
    int dims[2] = {skip ? 1 : size.width(), skip ? 1 : size.height()};
    if (skip) stride = 64;
    int block = 0;           // never wait for the frame's display time on the UI thread
    char format[] = "bgr0";  // the byte order of QImage::Format_RGB32
    // HDR video is drawn as 16-bit light, then tone mapped into the picture.
    char lightFormat[] = "rgba64";
    const bool mapped = !skip && toneMap_.active();
    std::size_t drawnStride = stride;
    void* drawn = skip     ? scratch
                  : mapped ? static_cast<void*>(toneMap_.source(dims[0], dims[1], drawnStride))
                           : pixels;
    if (!drawn) return false;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, dims},
        {MPV_RENDER_PARAM_SW_FORMAT, mapped ? lightFormat : format},
        {MPV_RENDER_PARAM_SW_STRIDE, &drawnStride},
        {MPV_RENDER_PARAM_SW_POINTER, drawn},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_render(render_, params) < 0 || skip) return false;
    if (mapped) toneMap_.map(pixels, stride, dims[0], dims[1]);
    if (alphaShown()) makeOpaque(pixels, size, stride);
    return true;
}

void MpvPlayer::renderFrame(bool fromUpdate) {
    if (fromUpdate) {
        renderQueued_ = false;
        if (!(mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME)) return;
    }
    // Frames of a file being replaced or closed are taken from mpv but not shown.
    const bool wanted = session_->picturesWanted();
    const QSize target = pictureSize(wanted);
    // A still picture is drawn again only at the area's size.
    if (!fromUpdate && target != videoRect().size()) return;
    // Every frame taken, drawn now or by a paint to come: the window is told.
    const auto taken = [&] {
        if (target == videoRect().size()) resizeHold_->stop();
        pictureShown_ = true;
        ++renderedFrames_;
        updateVideoRows();
        emit frameRendered();
    };
    const QWindow* shown = window()->windowHandle();
    const bool onScreen = shown && shown->isExposed();
    // While the window paints the whole area into its backing store, the
    // frame is drawn there by the paint asked for now.
    if (fromUpdate && wanted && direct_ && pictureShown_ && target == videoRect().size() &&
        image().size() == target && onScreen) {
        imageStale_ = true;
        taken();
        return;
    }
    direct_ = false;
    // Before the window is on the screen (at start, while the file opens and
    // the window is laid out) a frame is only taken: the paint that first
    // shows the window draws the newest one straight into it, and a reader of
    // the picture before then has it drawn at once.
    if (fromUpdate && wanted && !onScreen) {
        ensureImage(target, false);
        if (!image().isNull()) {
            renderInto(nullptr, {}, 0);
            imageStale_ = true;
            taken();
            return;
        }
    }
    // mpv draws the whole picture, black bars included.
    ensureImage(target, !wanted);
    // A copy of the picture held elsewhere keeps what it holds: mpv draws into
    // memory of our own instead of memory that bits() would detach in Qt's way.
    if (wanted && !image().isNull() && !image().isDetached()) {
        picture_.renew();
        pictureShown_ = false;
    }
    // The pointer first: the stride is the one of the buffer mpv writes into.
    uchar* pixels = wanted ? picture_.bits() : nullptr;
    const bool fits = pixels && image().format() == QImage::Format_RGB32 && image().size() == target;
    if (!renderInto(fits ? pixels : nullptr, image().size(),
                    static_cast<std::size_t>(image().bytesPerLine())))
        return;
    imageStale_ = false;
    taken();
}

// A new frame is flushed as whole rows of the window: the X server copies
// those from the window's shared memory in one go, and part rows by way of
// a pixmap, which cost it 40 % more CPU while playing 1080p under Xvfb.
// Beside the video the rows hold background, repainted with it.
void MpvPlayer::updateVideoRows() {
    const QRect area = videoRect();
    update(area);
    QWidget* top = window();
    if (top == this || area.isEmpty() || !isVisible()) return;
    const QRect video(mapTo(top, area.topLeft()), area.size());
    for (const QRect& side : QRegion(0, video.y(), top->width(), video.height()) - QRegion(video)) top->update(side);
}

void MpvPlayer::syncImage() {
    if (!imageStale_) return;
    imageStale_ = false;
    // A live source being opened again has no frame in mpv: the picture stays.
    if (image().isNull() || !pictureShown_ || !session_->picturesWanted()) return;
    if (!image().isDetached() && !picture_.tryRenew()) return;
    // mpv draws its current frame again, at the size its scaler was made for.
    uchar* pixels = picture_.bits();
    renderInto(pixels, image().size(), static_cast<std::size_t>(image().bytesPerLine()));
}

QImage* MpvPlayer::paintedStore(QPainter& painter) {
    QImage* store = windowStoreImage(this);
    if (!store || !painter.paintEngine() || painter.paintEngine()->paintDevice() != store) return nullptr;
    return store;
}

QImage MpvPlayer::storeArea(QPainter& painter, QImage& image, const QRegion& region) {
    const QRect area = videoRect();
    if (area.isEmpty() || !(QRegion(area) - region).isEmpty()) return {};
    // On X11 the store is premultiplied ARGB; the picture's bytes are the
    // ones painting an RGB32 image there would copy.
    const QImage::Format format = image.format();
    const QTransform t = painter.deviceTransform();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
         format != QImage::Format_ARGB32) ||
        t.type() > QTransform::TxTranslate || t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy()))
        return {};
    const QRect at = area.translated(static_cast<int>(t.dx()), static_cast<int>(t.dy()));
    if (!image.rect().contains(at)) return {};
    // The backing store's own memory: bits() could make a copy of it.
    auto* first = const_cast<uchar*>(image.constBits()) + static_cast<qsizetype>(at.y()) * image.bytesPerLine() +
                  static_cast<qsizetype>(at.x()) * 4;
    return QImage(first, at.width(), at.height(), image.bytesPerLine(), QImage::Format_RGB32);
}

void MpvPlayer::keepScreen() {
    if (!imageStale_ || screen_.size() != image().size() || !screenInStore()) return;
    if (!image().isDetached() && !picture_.tryRenew()) return;
    uchar* pixels = picture_.bits();
    const auto row = static_cast<std::size_t>(screen_.width()) * 4;
    for (int y = 0; y < screen_.height(); ++y)
        std::memcpy(pixels + static_cast<qsizetype>(y) * image().bytesPerLine(), screen_.constScanLine(y), row);
    imageStale_ = false;
}

void MpvPlayer::hideEvent(QHideEvent* event) {
    keepScreen();
    QWidget::hideEvent(event);
}

bool MpvPlayer::screenValid() { return isVisible() && screenInStore(); }

bool MpvPlayer::screenInStore() {
    if (!direct_ || screen_.isNull()) return false;
    const QImage* image = windowStoreImage(this);
    return image && image->constBits() == storeBits_ && image->size() == storeSize_ && videoRect() == screenArea_ &&
           mapTo(window(), QPoint(0, 0)) == screenOrigin_;
}

const QImage& MpvPlayer::videoImage() {
    if (imageStale_) {
        if (screenValid()) return screen_;
        syncImage();
    }
    return image();
}

void MpvPlayer::paintEvent(QPaintEvent* event) {
    const QRect area = videoRect();
    if (!event->region().intersects(area)) return;
    QPainter painter(this);
    const auto draw = [&](const QImage& image) {
        // For a while after a resize the picture keeps its old size.
        const QRect picture = image.rect().translated(area.topLeft()) & area;
        if (!picture.isEmpty()) painter.drawImage(picture.topLeft(), image, picture.translated(-area.topLeft()));
        for (const QRect& r : QRegion(area).subtracted(QRegion(picture))) painter.fillRect(r, Qt::black);
    };
    QImage* store = paintedStore(painter);
    if (!store) {
        // Drawn elsewhere (render(), grab()): the picture as the window has it.
        draw(videoImage());
        return;
    }
    const bool wanted = session_->picturesWanted();
    const QImage shown = pictureShown_ && wanted && image().size() == area.size()
                             ? storeArea(painter, *store, event->region())
                             : QImage();
    // The newest frame, straight from mpv into the window's backing store;
    // else the picture as the player has it.
    const bool direct = !shown.isNull() && imageStale_ &&
                        renderInto(const_cast<uchar*>(shown.constBits()), area.size(),
                                   static_cast<std::size_t>(shown.bytesPerLine()));
    if (!direct) {
        syncImage();
        draw(image());
    }
    // While the area is the store's, the next frames go straight there too.
    direct_ = !shown.isNull();
    screen_ = shown;
    storeBits_ = store->constBits();
    storeSize_ = store->size();
    screenArea_ = area;
    screenOrigin_ = mapTo(window(), QPoint(0, 0));
}

void MpvPlayer::resizeEvent(QResizeEvent*) {
    strip_->setGeometry(0, height() - kControlStripHeight, width(), kControlStripHeight);
    // The picture is made anew at the new size by the next render: while the
    // video plays that is the next frame, a still one is drawn again once
    // the resizes queued now are over.  A window being dragged costs no
    // render of its own per size.
    if (!pictureShown_) return;
    if (playState() == play_state::kPlaying) {
        // Playing sends no frame while a live source's delay is gathered or
        // its signal is lost: the picture is drawn again if none came.
        resizeHold_->start(3 * kResizeHoldMs);
        return;
    }
    if (redrawQueued_) return;
    redrawQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            redrawQueued_ = false;
            redrawAtAreaSize();
        },
        Qt::QueuedConnection);
}

void MpvPlayer::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !videoRect().contains(event->position().toPoint())) {
        event->ignore();
        return;
    }
    playState() == play_state::kPlaying ? pause() : play();
}

void MpvPlayer::refreshStrip() {
    if (!stripDirty_) return;
    stripDirty_ = false;
    strip_->showOpening(session_->opening());
    strip_->showLive(QString::fromStdString(session_->liveText()));
    strip_->showTimes(currentPosition(), session_->duration());
}

}  // namespace velmora

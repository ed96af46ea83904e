#include "playback/mpv_player.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <sys/stat.h>

#include <QBackingStore>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "playback/mpv_control_strip.h"

namespace velmora {

// The memory of the picture, shared by the images made over it: the player's
// own, and copies of it held elsewhere.  A resize takes a new image over the
// same memory when nobody else holds it and it is large enough, so that a
// window being dragged does not allocate at every size.
struct PictureMemory {
    uchar* pixels;
    std::size_t bytes;
    std::atomic<int> images{0};
};

namespace {

// What an asynchronous request's reply answers; a seek's generation rides in
// the upper bits so that replies to superseded seeks can be told apart.
enum Reply : std::uint64_t {
    kNoReply,
    kLoadReply,
    kVidReply,
    kVideoParamsReply,
    kSeekReply,
    kLandedReply,
    kRestartVideoReply,  // the open's picture size, asked for when playback first started
    kRestartAudioReply,  // whether the open's sound plays, asked for when there is no picture
    kRotationReply,      // the rotation the opening file's video track is tagged with
    kPreloadedHook,      // the file's tracks are chosen, its decoders not yet made
    kLandedEofReply,     // whether the end is reached where the last seek landed
};
std::uint64_t reply(Reply kind, std::uint64_t generation = 0) {
    return generation << 8 | kind;
}

void releasePicture(void* info) {
    auto* memory = static_cast<PictureMemory*>(info);
    if (--memory->images == 0) {
        std::free(memory->pixels);
        delete memory;
    }
}

qsizetype alignedStride(int width) { return (static_cast<qsizetype>(width) * 4 + 63) / 64 * 64; }

// An image of `size` over `memory`, rows aligned to 64 bytes (which keeps
// mpv's converters on their fast paths).
QImage pictureOver(PictureMemory* memory, QSize size) {
    ++memory->images;
    QImage image(memory->pixels, size.width(), size.height(), alignedStride(size.width()), QImage::Format_RGB32,
                 releasePicture, memory);
    if (image.isNull()) releasePicture(memory);  // QImage did not take it
    return image;
}

// A picture of `size` on new memory with room to grow by an eighth; a null
// image when the memory cannot be had.
QImage newPicture(QSize size, PictureMemory*& memory) {
    memory = nullptr;
    if (size.isEmpty()) return {};
    const std::size_t need = static_cast<std::size_t>(alignedStride(size.width())) *
                             static_cast<std::size_t>(size.height());
    const std::size_t bytes = (need + need / 8 + 63) / 64 * 64;
    void* pixels = std::aligned_alloc(64, bytes);
    if (!pixels) return {};
    memory = new PictureMemory{static_cast<uchar*>(pixels), bytes};
    QImage image = pictureOver(memory, size);
    if (image.isNull()) memory = nullptr;
    return image;
}

// `image`'s memory at another size, when only `image` uses it and it is large
// enough; else a null image.
QImage resizedPicture(const QImage& image, PictureMemory* memory, QSize size) {
    if (image.isNull() || !memory || size.isEmpty() || !image.isDetached() || memory->images != 1) return {};
    const std::size_t need = static_cast<std::size_t>(alignedStride(size.width())) *
                             static_cast<std::size_t>(size.height());
    if (need > memory->bytes) return {};
    return pictureOver(memory, size);
}

const std::string kOpenFailed = "The file could not be opened: ";

std::string trimmed(std::string s) {
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == '.'))
        s.pop_back();
    return s;
}

// The reason one of mpv's log lines gives, or "" for lines that only say
// that something failed ("Failed to open x.", "avformat_open_input() failed").
//   [file] Cannot open file 'x': No such file or directory
//   [ffmpeg/demuxer] mov,mp4,m4a,3gp,3g2,mj2: moov atom not found
std::string logReason(const std::string& prefix, const std::string& text) {
    static const char* const sources[] = {"file", "stream", "demux", "lavf", "ffmpeg"};
    if (std::none_of(std::begin(sources), std::end(sources),
                     [&](const char* s) { return prefix.starts_with(s); }))
        return {};
    if (text.starts_with("Failed to") || text.find("() failed") != std::string::npos) return {};
    if (auto quote = text.rfind("': "); quote != std::string::npos) return trimmed(text.substr(quote + 3));
    auto colon = text.find(": ");
    return trimmed(colon == std::string::npos ? text : text.substr(colon + 2));
}

// The filter that turns a picture tagged with `degrees` of clockwise rotation
// upright, "" when none is needed.  mpv's software renderer cannot turn
// pictures itself (it crops outside the picture when asked to), so the
// decoded frames are turned before they reach it.
std::string uprightFilter(std::int64_t degrees) {
    switch (((degrees % 360 + 360) % 360 + 45) / 90 % 4) {
        case 1: return "lavfi=[transpose=clock]";
        case 2: return "lavfi=[hflip,vflip]";
        case 3: return "lavfi=[transpose=cclock]";
        default: return "";
    }
}

std::int64_t nodeInt(const mpv_node& node, const char* key) {
    if (node.format != MPV_FORMAT_NODE_MAP) return -1;
    for (int i = 0; i < node.u.list->num; ++i)
        if (std::strcmp(node.u.list->keys[i], key) == 0 && node.u.list->values[i].format == MPV_FORMAT_INT64)
            return node.u.list->values[i].u.int64;
    return -1;
}

const mpv_node* nodeValue(const mpv_node& node, const char* key) {
    if (node.format != MPV_FORMAT_NODE_MAP) return nullptr;
    for (int i = 0; i < node.u.list->num; ++i)
        if (std::strcmp(node.u.list->keys[i], key) == 0) return &node.u.list->values[i];
    return nullptr;
}

bool nodeFlag(const mpv_node& node, const char* key) {
    const mpv_node* value = nodeValue(node, key);
    return value && value->format == MPV_FORMAT_FLAG && value->u.flag;
}

// The rotation tag of the video track mpv is about to play: the one selected,
// else the one marked default, else the first.  Tracks are not yet selected
// when the file has just been read.
std::int64_t videoRotation(const mpv_node& trackList) {
    if (trackList.format != MPV_FORMAT_NODE_ARRAY) return 0;
    const mpv_node* chosen = nullptr;
    int rank = 0;
    for (int i = 0; i < trackList.u.list->num; ++i) {
        const mpv_node& track = trackList.u.list->values[i];
        const mpv_node* type = nodeValue(track, "type");
        if (!type || type->format != MPV_FORMAT_STRING || std::strcmp(type->u.string, "video") != 0 ||
            nodeFlag(track, "albumart"))
            continue;
        const int r = nodeFlag(track, "selected") ? 3 : nodeFlag(track, "default") ? 2 : 1;
        if (r > rank) {
            rank = r;
            chosen = &track;
        }
    }
    return chosen ? std::max<std::int64_t>(0, nodeInt(*chosen, "demux-rotation")) : 0;
}

}  // namespace

// One setFileName() in progress.
struct MpvPlayer::OpenAttempt {
    QEventLoop loop;
    std::int64_t entryId = -1;   // our playlist entry, from the loadfile reply
    bool takeNextStart = false;  // the reply had no id: the next started entry is ours
    bool loaded = false;         // FILE_LOADED of our entry seen
    bool sizeKnown = false;      // video size known, or no video track
    bool restartAsked = false;   // playback started: the picture size and sound were asked for
    bool failed = false;
    int mpvError = 0;
    // Why it failed, when mpv itself gives no reason.
    std::string reason;
    std::vector<std::pair<std::string, std::string>> log;  // mpv's warnings and errors meanwhile

    bool done() const { return failed || (loaded && sizeKnown); }

    std::string failure() const {
        if (!reason.empty()) return kOpenFailed + reason + ".";
        std::string detail;
        for (auto it = log.rbegin(); it != log.rend() && detail.empty(); ++it)
            detail = logReason(it->first, it->second);
        std::string reason = mpvError < 0 ? mpv_error_string(mpvError) : "";
        if (reason.empty() || mpvError == MPV_ERROR_LOADING_FAILED)
            reason = !detail.empty() ? detail : !reason.empty() ? reason : "loading was interrupted";
        else if (!detail.empty() && detail != reason)
            reason += " (" + detail + ")";
        return kOpenFailed + reason + ".";
    }
};

MpvPlayer::MpvPlayer(QWidget* parent, MpvOptions options)
    : QWidget(parent), options_(std::move(options)), strip_(new MpvControlStrip(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::NoContextMenu);

    std::setlocale(LC_NUMERIC, "C");  // mpv refuses to start under a locale with a decimal comma
    mpv_ = mpv_create();
    if (!mpv_) throw std::runtime_error("The video player could not be started.");
    static const std::pair<const char*, const char*> settings[] = {
        {"vo", "libmpv"},
        {"hwdec", "no"},
        {"keep-open", "yes"},
        {"idle", "yes"},
        {"hr-seek", "yes"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"osc", "no"},
        {"terminal", "no"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        // mpv's own scripts for its keys and its on-screen display: this
        // player has neither, and each would start a Lua interpreter of its
        // own while the window starts.
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        // Rotation tags are applied by a filter chosen per file (see uprightFilter).
        {"video-rotate", "no"},
        // Bicubic rather than lanczos: near the picture's own size the two
        // look alike, and bicubic costs less per frame and less each time the
        // scaler is made for a new size.
        {"zimg-scaler", "bicubic"},
    };
    for (const auto& [name, value] : settings) mpv_set_option_string(mpv_, name, value);
    if (!options_.audioOutput.empty()) mpv_set_option_string(mpv_, "ao", options_.audioOutput.c_str());
    mpv_request_log_messages(mpv_, "warn");
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_initialize(mpv_) < 0 || mpv_render_context_create(&render_, mpv_, params) < 0) {
        mpv_terminate_destroy(mpv_);
        throw std::runtime_error("The video player could not be started.");
    }
    mpv_hook_add(mpv_, kPreloadedHook, "on_preloaded", 0);
    mpv_observe_property(mpv_, 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, 0, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, 0, "frame-drop-count", MPV_FORMAT_INT64);
    mpv_observe_property(mpv_, 0, "decoder-frame-drop-count", MPV_FORMAT_INT64);

    // Both callbacks run on mpv's threads: they only queue one drain or one
    // render on the UI thread at a time.
    mpv_render_context_set_update_callback(
        render_,
        [](void* p) {
            auto* self = static_cast<MpvPlayer*>(p);
            if (!self->renderQueued_.exchange(true))
                QMetaObject::invokeMethod(
                    self, [self] { self->renderFrame(true); }, Qt::QueuedConnection);
        },
        this);
    mpv_set_wakeup_callback(
        mpv_,
        [](void* p) {
            auto* self = static_cast<MpvPlayer*>(p);
            if (!self->drainQueued_.exchange(true))
                QMetaObject::invokeMethod(
                    self, [self] { self->drainEvents(); }, Qt::QueuedConnection);
        },
        this);

    connect(strip_, &MpvControlStrip::playPauseClicked, this,
            [this] { playState_ == play_state::kPlaying ? pause() : play(); });
    connect(strip_, &MpvControlStrip::muteClicked, this, [this] {
        userMuted_ = !userMuted_;
        applyMute();
    });
    connect(strip_, &MpvControlStrip::volumeChanged, this, [this](int percent) {
        double volume = percent;
        mpv_set_property_async(mpv_, 0, "volume", MPV_FORMAT_DOUBLE, &volume);
    });
    connect(strip_, &MpvControlStrip::seekRequested, this, &MpvPlayer::setCurrentPosition);
    resizeHold_ = new QTimer(this);
    resizeHold_->setSingleShot(true);
    connect(resizeHold_, &QTimer::timeout, this, &MpvPlayer::redrawAtAreaSize);
    auto* stripTimer = new QTimer(this);
    connect(stripTimer, &QTimer::timeout, this, &MpvPlayer::refreshStrip);
    stripTimer->start(200);
}

MpvPlayer::~MpvPlayer() {
    *alive_ = false;
    if (open_) open_->loop.quit();  // the waiting setFileName() returns without touching us
    mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
    mpv_terminate_destroy(mpv_);
}

QRect MpvPlayer::videoRect() const {
    return {0, 0, width(), std::max(0, height() - kControlStripHeight)};
}

// ---- Opening -----------------------------------------------------------

void MpvPlayer::setFileName(const std::string& path) {
    if (open_) {
        error_ = "Another file is still being opened.";
        return;
    }
    closeMedia();
    error_.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failOpen(kOpenFailed + std::strerror(errno) + ".");
    // mpv would play the files inside a folder.
    if (S_ISDIR(st.st_mode)) return failOpen("Not a video file: it is a folder.");
    if (!S_ISREG(st.st_mode)) return failOpen("Not a video file: it is not a regular file.");
    if (st.st_size == 0) return failOpen(kOpenFailed + "the file is empty.");

    OpenAttempt attempt;
    open_ = &attempt;
    ++openSerial_;
    setFlag("pause", true);  // hold the first frame until the open is over
    command({"loadfile", path.c_str(), "replace"}, kLoadReply);

    bool timedOut = false;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &attempt.loop, [&] {
        timedOut = true;
        attempt.loop.quit();
    });
    timeout.start(options_.openTimeoutMs);
    const std::shared_ptr<bool> alive = alive_;
    attempt.loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!*alive) return;  // destroyed while waiting
    open_ = nullptr;

    if (!attempt.done() && timedOut)
        return failOpen(kOpenFailed + "it did not finish loading within " +
                        std::to_string((options_.openTimeoutMs + 999) / 1000) + " seconds.");
    // The wait can also end from outside, e.g. when the application quits.
    if (!attempt.done()) return failOpen(kOpenFailed + "loading was interrupted.");
    if (attempt.failed) return failOpen(attempt.failure());

    mediaEntryId_ = attempt.entryId;
    fileName_ = path;
    error_.clear();  // a refused open meanwhile may have left its complaint
    raiseOpenStateChange(open_state::kClosed, open_state::kMediaOpen);
    play();
}

void MpvPlayer::failOpen(std::string description) {
    command({"stop"});
    // Whatever the failed file reported while it loaded is no longer true.
    forgetMedia();
    error_ = std::move(description);
    setPlayState(play_state::kNoMedia);
}

void MpvPlayer::closeMedia() {
    const bool wasOpen = mediaEntryId_ >= 0;
    mediaEntryId_ = -1;
    forgetMedia();
    if (wasOpen) raiseOpenStateChange(open_state::kMediaOpen, open_state::kClosed);
    setPlayState(play_state::kNoMedia);
}

void MpvPlayer::forgetMedia() {
    fileName_.clear();
    hasVideo_ = false;
    videoWidth_ = 320;
    videoHeight_ = 0;
    timePos_ = duration_ = 0;
    eofReached_ = false;
    pendingSeek_.reset();
    stripDirty_ = true;
    clearPicture();
}

// ---- Commands ----------------------------------------------------------

void MpvPlayer::command(std::initializer_list<const char*> args, std::uint64_t replyTo) {
    std::vector<const char*> argv(args);
    argv.push_back(nullptr);
    mpv_command_async(mpv_, replyTo, argv.data());
}

void MpvPlayer::setFlag(const char* name, bool value) {
    int flag = value ? 1 : 0;
    mpv_set_property_async(mpv_, 0, name, MPV_FORMAT_FLAG, &flag);
}

void MpvPlayer::setPlayState(int state) {
    if (state == playState_) return;
    const int old = playState_;
    playState_ = state;
    strip_->showPlayState(state);
    raisePlayStateChange(old, state);
}

void MpvPlayer::play() {
    if (mediaEntryId_ < 0) return;
    // At the end of the file, play starts again from the beginning.
    if (playState_ == play_state::kStopped || (eofReached_ && !pendingSeek_)) seekTo(0);
    setFlag("pause", false);
    setPlayState(play_state::kPlaying);
}

void MpvPlayer::followEnd(bool atEnd) {
    eofReached_ = atEnd;
    // mpv pauses by itself only at the end of the file (keep-open).
    if (atEnd)
        setPlayState(play_state::kStopped);
    else if (playState_ == play_state::kStopped)
        setPlayState(play_state::kPaused);
}

void MpvPlayer::pause() {
    // Stopped at the end is already still; it stays "stopped".
    if (playState_ != play_state::kPlaying) return;
    setFlag("pause", true);
    setPlayState(play_state::kPaused);
}

double MpvPlayer::currentPosition() const {
    return pendingSeek_ ? *pendingSeek_ : timePos_;
}

void MpvPlayer::setCurrentPosition(double seconds) {
    if (mediaEntryId_ < 0) return;
    seekTo(seconds);
    if (playState_ == play_state::kStopped) setPlayState(play_state::kPaused);  // no longer at the end
}

void MpvPlayer::seekTo(double seconds) {
    seconds = std::max(0.0, seconds);
    pendingSeek_ = seconds;
    ++seekGeneration_;
    char target[32];
    std::snprintf(target, sizeof target, "%.6f", seconds);
    command({"seek", target, "absolute+exact"}, reply(kSeekReply, seekGeneration_));
    stripDirty_ = true;
}

void MpvPlayer::setSlowSpeed(bool slow) {
    // At slow speed the video runs in short bursts: the sound would only stutter.
    slow_ = slow;
    applyMute();
}

void MpvPlayer::applyMute() {
    setFlag("mute", userMuted_ || slow_);
    strip_->showMuted(userMuted_ || slow_);
}

// ---- Events from mpv ---------------------------------------------------

void MpvPlayer::drainEvents() {
    drainQueued_ = false;
    const std::shared_ptr<bool> alive = alive_;  // a handler of our events may destroy us
    while (true) {
        const mpv_event* event = mpv_wait_event(mpv_, 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        handleEvent(*event);
        if (!*alive) return;
    }
    // Quit only now: the log lines that explain a failure come after its event.
    if (open_ && open_->done()) open_->loop.quit();
}

void MpvPlayer::handleEvent(const mpv_event& event) {
    const std::uint64_t kind = event.reply_userdata & 0xff;
    const std::uint64_t generation = event.reply_userdata >> 8;
    switch (event.event_id) {
        case MPV_EVENT_LOG_MESSAGE:
            if (open_) {
                const auto* msg = static_cast<const mpv_event_log_message*>(event.data);
                open_->log.emplace_back(msg->prefix, trimmed(msg->text));
                if (open_->log.size() > 16) open_->log.erase(open_->log.begin());
            }
            break;
        case MPV_EVENT_COMMAND_REPLY:
            if (kind == kLoadReply && open_) {
                if (event.error < 0) {
                    open_->failed = true;
                    open_->mpvError = event.error;
                } else {
                    open_->entryId = nodeInt(static_cast<const mpv_event_command*>(event.data)->result,
                                             "playlist_entry_id");
                    open_->takeNextStart = open_->entryId < 0;
                }
            } else if (kind == kSeekReply) {
                seekAcked_ = std::max(seekAcked_, generation);
                if (event.error < 0 && generation == seekGeneration_) pendingSeek_.reset();
            }
            break;
        case MPV_EVENT_HOOK:
            // mpv waits until the hook is continued: ask for the tracks first.
            rotationHook_ = static_cast<const mpv_event_hook*>(event.data)->id;
            mpv_get_property_async(mpv_, kRotationReply, "track-list", MPV_FORMAT_NODE);
            break;
        case MPV_EVENT_START_FILE:
            currentEntryId_ = static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id;
            if (open_ && open_->takeNextStart) {
                open_->entryId = currentEntryId_;
                open_->takeNextStart = false;
            }
            break;
        case MPV_EVENT_FILE_LOADED:
            if (open_ && open_->entryId >= 0 && currentEntryId_ == open_->entryId) {
                open_->loaded = true;
                mpv_get_property_async(mpv_, kVidReply, "vid", MPV_FORMAT_STRING);
            }
            break;
        case MPV_EVENT_VIDEO_RECONFIG:
            if (open_ ? open_->loaded : mediaEntryId_ >= 0)
                mpv_get_property_async(mpv_, kVideoParamsReply, "video-out-params", MPV_FORMAT_NODE);
            break;
        case MPV_EVENT_GET_PROPERTY_REPLY: {
            const auto* prop = static_cast<const mpv_event_property*>(event.data);
            if (kind == kRotationReply) {
                const bool answered = event.error >= 0 && prop->format == MPV_FORMAT_NODE;
                const std::string filter =
                    uprightFilter(answered ? videoRotation(*static_cast<const mpv_node*>(prop->data)) : 0);
                const char* value = filter.c_str();
                // For this file only; the requests are carried out in order.
                if (!filter.empty())
                    mpv_set_property_async(mpv_, 0, "file-local-options/vf", MPV_FORMAT_STRING, &value);
                mpv_hook_continue(mpv_, rotationHook_);
            } else if (kind == kVidReply && open_ && open_->loaded) {
                const bool none = event.error < 0 || prop->format != MPV_FORMAT_STRING ||
                                  std::strcmp(*static_cast<char**>(prop->data), "no") == 0;
                if (none) {
                    hasVideo_ = false;
                    open_->sizeKnown = true;
                }
            } else if (kind == kVideoParamsReply && event.error >= 0 && prop->format == MPV_FORMAT_NODE) {
                const auto* params = static_cast<const mpv_node*>(prop->data);
                const std::int64_t w = nodeInt(*params, "dw"), h = nodeInt(*params, "dh");
                if (w > 0 && h > 0) {
                    hasVideo_ = true;
                    videoWidth_ = static_cast<int>(w);
                    videoHeight_ = static_cast<int>(h);
                    if (open_ && open_->loaded) open_->sizeKnown = true;
                }
            } else if ((kind == kRestartVideoReply || kind == kRestartAudioReply) &&
                       generation == openSerial_ && open_ && open_->loaded && !open_->sizeKnown) {
                const bool answered = event.error >= 0 && prop->format == MPV_FORMAT_NODE;
                const auto* params = answered ? static_cast<const mpv_node*>(prop->data) : nullptr;
                if (kind == kRestartVideoReply) {
                    const std::int64_t w = params ? nodeInt(*params, "dw") : -1;
                    const std::int64_t h = params ? nodeInt(*params, "dh") : -1;
                    if (w > 0 && h > 0) {
                        hasVideo_ = true;
                        videoWidth_ = static_cast<int>(w);
                        videoHeight_ = static_cast<int>(h);
                        open_->sizeKnown = true;
                    } else {
                        mpv_get_property_async(mpv_, reply(kRestartAudioReply, openSerial_), "audio-params",
                                               MPV_FORMAT_NODE);
                    }
                } else if (answered) {
                    // Sound without a picture: the file opens as sound alone.
                    hasVideo_ = false;
                    videoWidth_ = 320;
                    videoHeight_ = 0;
                    open_->sizeKnown = true;
                } else {
                    open_->failed = true;
                    open_->reason = "its picture could not be decoded and it has no sound";
                }
            } else if (kind == kLandedReply && generation == seekGeneration_ && pendingSeek_) {
                if (event.error >= 0 && prop->format == MPV_FORMAT_DOUBLE)
                    timePos_ = *static_cast<double*>(prop->data);
                pendingSeek_.reset();
                stripDirty_ = true;
            } else if (kind == kLandedEofReply && generation == seekGeneration_ && !pendingSeek_ &&
                       !open_ && mediaEntryId_ >= 0) {
                // Where the seek landed is where the end is judged again.
                followEnd(event.error >= 0 && prop->format == MPV_FORMAT_FLAG && *static_cast<int*>(prop->data));
            }
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART:
            // Playback of the file being opened can start, yet no picture size
            // is known: the video track may hold no frame that decodes.
            if (open_ && open_->loaded && !open_->sizeKnown && !open_->restartAsked) {
                open_->restartAsked = true;
                mpv_get_property_async(mpv_, reply(kRestartVideoReply, openSerial_), "video-out-params",
                                       MPV_FORMAT_NODE);
            }
            // The seek asked for last has been carried out: ask where it
            // landed, and whether that is the end.
            if (pendingSeek_ && seekAcked_ == seekGeneration_) {
                mpv_get_property_async(mpv_, reply(kLandedReply, seekGeneration_), "time-pos",
                                       MPV_FORMAT_DOUBLE);
                mpv_get_property_async(mpv_, reply(kLandedEofReply, seekGeneration_), "eof-reached",
                                       MPV_FORMAT_FLAG);
            }
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<const mpv_event_end_file*>(event.data);
            if (open_ && end->playlist_entry_id == open_->entryId) {
                open_->failed = true;
                open_->mpvError = end->reason == MPV_END_FILE_REASON_ERROR ? end->error : 0;
            } else if (end->playlist_entry_id == mediaEntryId_) {
                closeMedia();  // e.g. the file became unreadable while playing
            }
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* prop = static_cast<const mpv_event_property*>(event.data);
            const std::string_view name = prop->name;
            if (name == "time-pos" || name == "duration") {
                // Unknown, or reported by a file that is no longer open: 0.
                const bool current = open_ || mediaEntryId_ >= 0;
                const double value =
                    current && prop->format == MPV_FORMAT_DOUBLE ? *static_cast<double*>(prop->data) : 0;
                (name == "time-pos" ? timePos_ : duration_) = value;
                stripDirty_ = true;
            } else if (prop->format == MPV_FORMAT_INT64) {
                const auto value = *static_cast<std::int64_t*>(prop->data);
                if (name == "frame-drop-count") frameDrops_ = value;
                if (name == "decoder-frame-drop-count") decoderFrameDrops_ = value;
            } else if (name == "eof-reached") {
                // Only a report about the open file at the position last asked
                // for counts: one made before a seek (a play from the end
                // starts with one) describes where the video no longer is.
                // The end is judged again when the seek has landed.
                if (!open_ && mediaEntryId_ >= 0 && currentEntryId_ == mediaEntryId_ && !pendingSeek_)
                    followEnd(prop->format == MPV_FORMAT_FLAG && *static_cast<int*>(prop->data));
            }
            break;
        }
        default:
            break;
    }
}

// ---- Picture -----------------------------------------------------------

// mpv's software renderer makes its scaler anew for every size it draws at,
// which takes longer than drawing a frame.  A window being dragged passes
// through a new size at nearly every frame: the picture takes the newest size
// at most once per kResizeHoldMs and keeps its size in between (painted
// clipped, or with black beside it), until the hold is over.
QSize MpvPlayer::pictureSize(bool wanted) {
    constexpr int kResizeHoldMs = 100;
    const QSize area = videoRect().size();
    if (image_.size() == area) return area;
    if (wanted && pictureShown_ && sinceResized_.isValid() && sinceResized_.elapsed() < kResizeHoldMs) {
        // A playing video's next frame after the hold takes the new size;
        // the timer is there for a still picture, or frames far apart.
        const int wait = static_cast<int>(kResizeHoldMs - sinceResized_.elapsed()) +
                         (playState_ == play_state::kPlaying ? kResizeHoldMs : 0);
        if (!resizeHold_->isActive()) resizeHold_->start(wait);
        return image_.size();
    }
    sinceResized_.start();
    return area;
}

void MpvPlayer::redrawAtAreaSize() {
    if (pictureShown_ && image_.size() != videoRect().size()) renderFrame(false);
}

void MpvPlayer::ensureImage(QSize size, bool clear) {
    if (image_.size() == size) return;
    QImage next = resizedPicture(image_, picture_, size);
    PictureMemory* memory = picture_;
    image_ = QImage();  // the old memory goes first when it is not kept
    if (next.isNull()) next = newPicture(size, memory);
    // Without the memory for it the image stays null: the video area shows
    // black and frames are taken from mpv without being drawn.
    image_ = std::move(next);
    picture_ = image_.isNull() ? nullptr : memory;
    if (clear && !image_.isNull()) image_.fill(Qt::black);
    pictureShown_ = false;
}

void MpvPlayer::clearPicture() {
    if (!image_.isNull()) image_.fill(Qt::black);
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
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, dims},
        {MPV_RENDER_PARAM_SW_FORMAT, format},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride},
        {MPV_RENDER_PARAM_SW_POINTER, skip ? scratch : pixels},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    return mpv_render_context_render(render_, params) >= 0 && !skip;
}

void MpvPlayer::renderFrame(bool fromUpdate) {
    if (fromUpdate) {
        renderQueued_ = false;
        if (!(mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME)) return;
    }
    // Frames of a file being replaced or closed are taken from mpv but not shown.
    const bool wanted = open_ ? open_->loaded : mediaEntryId_ >= 0;
    const QSize target = pictureSize(wanted);
    // A still picture is drawn again only at the area's size.
    if (!fromUpdate && target != videoRect().size()) return;
    // While the window paints the whole area into its backing store, the
    // frame is drawn there by the paint asked for now.
    const QWindow* shown = window()->windowHandle();
    if (fromUpdate && wanted && direct_ && pictureShown_ && target == videoRect().size() &&
        image_.size() == target && shown && shown->isExposed()) {
        resizeHold_->stop();
        imageStale_ = true;
        ++renderedFrames_;
        updateVideoRows();
        emit frameRendered();
        return;
    }
    direct_ = false;
    // mpv draws the whole picture, black bars included.
    ensureImage(target, !wanted);
    // A copy of the picture held elsewhere keeps what it holds: mpv draws into
    // memory of our own instead of memory that bits() would detach in Qt's way.
    if (wanted && !image_.isNull() && !image_.isDetached()) {
        PictureMemory* memory = nullptr;
        QImage next = newPicture(image_.size(), memory);
        image_ = std::move(next);
        picture_ = image_.isNull() ? nullptr : memory;
        pictureShown_ = false;
    }
    // The pointer first: the stride is the one of the buffer mpv writes into.
    uchar* pixels = wanted ? image_.bits() : nullptr;
    const bool fits = pixels && image_.format() == QImage::Format_RGB32 && image_.size() == target;
    if (!renderInto(fits ? pixels : nullptr, image_.size(), static_cast<std::size_t>(image_.bytesPerLine())))
        return;
    imageStale_ = false;
    if (target == videoRect().size()) resizeHold_->stop();
    pictureShown_ = true;
    ++renderedFrames_;
    updateVideoRows();
    emit frameRendered();
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
    if (image_.isNull() || !pictureShown_) return;
    if (!image_.isDetached()) {
        PictureMemory* memory = nullptr;
        QImage next = newPicture(image_.size(), memory);
        if (next.isNull()) return;
        image_ = std::move(next);
        picture_ = memory;
    }
    // mpv draws its current frame again, at the size its scaler was made for.
    uchar* pixels = image_.bits();
    renderInto(pixels, image_.size(), static_cast<std::size_t>(image_.bytesPerLine()));
}

QImage* MpvPlayer::paintedStore(QPainter& painter) {
    QBackingStore* store = backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image || !painter.paintEngine() ||
        painter.paintEngine()->paintDevice() != device)
        return nullptr;
    return static_cast<QImage*>(device);
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

bool MpvPlayer::screenValid() {
    if (!direct_ || screen_.isNull() || !isVisible()) return false;
    QBackingStore* store = backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image) return false;
    const auto* image = static_cast<const QImage*>(device);
    return image->constBits() == storeBits_ && image->size() == storeSize_ && videoRect() == screenArea_ &&
           mapTo(window(), QPoint(0, 0)) == screenOrigin_;
}

const QImage& MpvPlayer::videoImage() {
    if (imageStale_) {
        if (screenValid()) return screen_;
        syncImage();
    }
    return image_;
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
    const bool wanted = open_ ? open_->loaded : mediaEntryId_ >= 0;
    const QImage shown = pictureShown_ && wanted && image_.size() == area.size()
                             ? storeArea(painter, *store, event->region())
                             : QImage();
    // The newest frame, straight from mpv into the window's backing store;
    // else the picture as the player has it.
    const bool direct = !shown.isNull() && imageStale_ &&
                        renderInto(const_cast<uchar*>(shown.constBits()), area.size(),
                                   static_cast<std::size_t>(shown.bytesPerLine()));
    if (!direct) {
        syncImage();
        draw(image_);
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
    if (!pictureShown_ || playState_ == play_state::kPlaying || redrawQueued_) return;
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
    playState_ == play_state::kPlaying ? pause() : play();
}

void MpvPlayer::refreshStrip() {
    if (!stripDirty_) return;
    stripDirty_ = false;
    strip_->showTimes(currentPosition(), duration_);
}

}  // namespace velmora

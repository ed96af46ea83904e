#include "playback/mpv_session.h"

#include "playback/mpv_live_feed.h"

#include <mpv/client.h>
#include <sys/stat.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "playback/mpv_answers.h"
#include "playback/video_filters.h"

namespace velmora {

using namespace mpv_answers;

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
    kCacheReply,         // a live source's cache: what was received, what can be sought in
    kReconnectReply,     // the load that opens a live source again
};
std::uint64_t reply(Reply kind, std::uint64_t generation = 0) {
    return generation << 8 | kind;
}

const std::string kOpenFailed = "The file could not be opened: ";

}  // namespace

// One setFileName() in progress.
struct MpvSession::OpenAttempt {
    QEventLoop loop;
    std::int64_t entryId = -1;   // our playlist entry, from the loadfile reply
    bool takeNextStart = false;  // the reply had no id: the next started entry is ours
    bool loaded = false;         // FILE_LOADED of our entry seen
    bool sizeKnown = false;      // video size known, or no video track
    bool restartAsked = false;   // playback started: the picture size and sound were asked for
    bool failed = false;
    int mpvError = 0;
    // What a failure's sentence starts with.
    std::string prefix = kOpenFailed;
    // Why it failed, when mpv itself gives no reason.
    std::string reason;
    std::vector<std::pair<std::string, std::string>> log;  // mpv's warnings and errors meanwhile

    bool done() const { return failed || (loaded && sizeKnown); }

    std::string failure() const {
        if (!reason.empty()) return prefix + reason + ".";
        std::string detail;
        for (auto it = log.rbegin(); it != log.rend() && detail.empty(); ++it)
            detail = logReason(it->first, it->second);
        std::string reason = mpvError < 0 ? mpv_error_string(mpvError) : "";
        if (reason.empty() || mpvError == MPV_ERROR_LOADING_FAILED)
            reason = !detail.empty() ? detail : !reason.empty() ? reason : "loading was interrupted";
        else if (!detail.empty() && detail != reason)
            reason += " (" + detail + ")";
        return prefix + reason + ".";
    }
};

MpvSession::MpvSession(MpvOptions options) : options_(std::move(options)) {
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
    if (mpv_initialize(mpv_) < 0) {
        mpv_terminate_destroy(mpv_);
        throw std::runtime_error("The video player could not be started.");
    }
    feed_ = std::make_unique<MpvLiveFeed>(mpv_);
    mpv_hook_add(mpv_, kPreloadedHook, "on_preloaded", 0);
    mpv_observe_property(mpv_, 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, 0, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv_, 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, 0, "frame-drop-count", MPV_FORMAT_INT64);
    mpv_observe_property(mpv_, 0, "decoder-frame-drop-count", MPV_FORMAT_INT64);
    mpv_observe_property(mpv_, 0, "video-dec-params", MPV_FORMAT_NODE);
    mpv_observe_property(mpv_, 0, "video-frame-info/interlaced", MPV_FORMAT_FLAG);

    // The callback runs on mpv's threads: it only queues one drain on the UI
    // thread at a time.
    mpv_set_wakeup_callback(
        mpv_,
        [](void* p) {
            auto* self = static_cast<MpvSession*>(p);
            if (!self->drainQueued_.exchange(true))
                QMetaObject::invokeMethod(
                    self, [self] { self->drainEvents(); }, Qt::QueuedConnection);
        },
        this);

    cachePoll_ = new QTimer(this);
    connect(cachePoll_, &QTimer::timeout, this,
            [this] { mpv_get_property_async(mpv_, kCacheReply, "demuxer-cache-state", MPV_FORMAT_NODE); });
}

MpvSession::~MpvSession() {
    *alive_ = false;
    if (open_) open_->loop.quit();  // the waiting setFileName() returns without touching us
    mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
    mpv_terminate_destroy(mpv_);
}

bool MpvSession::picturesWanted() const {
    // While a live source is opened again mpv has no picture of it, and
    // draws black: the last picture stays until the source is back.
    return open_ ? open_->loaded : mediaEntryId_ >= 0 && currentEntryId_ == mediaEntryId_;
}

// ---- Opening -----------------------------------------------------------

void MpvSession::setFileName(const std::string& path) {
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
    openTarget(path, {}, kOpenFailed);
}

void MpvSession::openTarget(const std::string& target, const std::string& optionList,
                            const std::string& failurePrefix) {
    const std::string& path = target;
    OpenAttempt attempt;
    attempt.prefix = failurePrefix;
    open_ = &attempt;
    ++openSerial_;
    setFlag("pause", true);  // hold the first frame until the open is over
    if (optionList.empty())
        command({"loadfile", target.c_str(), "replace"}, kLoadReply);
    else
        command({"loadfile", target.c_str(), "replace", optionList.c_str()}, kLoadReply);

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
        return failOpen(failurePrefix + "it did not finish loading within " +
                        std::to_string((options_.openTimeoutMs + 999) / 1000) + " seconds.");
    // The wait can also end from outside, e.g. when the application quits.
    if (!attempt.done()) return failOpen(failurePrefix + "loading was interrupted.");
    if (attempt.failed) return failOpen(attempt.failure());

    mediaEntryId_ = attempt.entryId;
    fileName_ = path;
    error_.clear();  // a refused open meanwhile may have left its complaint
    emit openStateChanged(open_state::kClosed, open_state::kMediaOpen);
    play();
}

void MpvSession::failOpen(std::string description) {
    command({"stop"});
    // Whatever the failed file reported while it loaded is no longer true.
    forgetMedia();
    error_ = std::move(description);
    setPlayState(play_state::kNoMedia);
}

void MpvSession::reconnect() {
    if (!live()) return;
    // The frames received so far are the window's to keep; the player starts
    // again with what the source sends from now on.
    reconnecting_ = true;
    reconnectEntryId_ = -1;
    seekableKnown_ = false;
    cacheEnd_ = -1;
    emit reopening();
    command({"loadfile", liveTarget_.c_str(), "replace", liveOptionList_.c_str()}, kReconnectReply);
}

void MpvSession::closeMedia() {
    stopLive();
    const bool wasOpen = mediaEntryId_ >= 0;
    mediaEntryId_ = -1;
    forgetMedia();
    if (wasOpen) emit openStateChanged(open_state::kMediaOpen, open_state::kClosed);
    setPlayState(play_state::kNoMedia);
}

void MpvSession::forgetMedia() {
    fileName_.clear();
    hasVideo_ = false;
    videoWidth_ = 320;
    videoHeight_ = 0;
    timePos_ = duration_ = 0;
    eofReached_ = false;
    pendingSeek_.reset();
    emit timesChanged();
    emit mediaForgotten();
}

// ---- Commands ----------------------------------------------------------

void MpvSession::command(std::initializer_list<const char*> args, std::uint64_t replyTo) {
    std::vector<const char*> argv(args);
    argv.push_back(nullptr);
    mpv_command_async(mpv_, replyTo, argv.data());
}

void MpvSession::setFlag(const char* name, bool value) {
    if (std::strcmp(name, "pause") == 0) pauseSent_ = value;
    int flag = value ? 1 : 0;
    mpv_set_property_async(mpv_, 0, name, MPV_FORMAT_FLAG, &flag);
}

void MpvSession::setPlayState(int state) {
    if (state == playState_) return;
    const int old = playState_;
    playState_ = state;
    emit playStateChanged(old, state);
}

void MpvSession::play() {
    if (mediaEntryId_ < 0) return;
    // At the end of the file, play starts again from the beginning.
    if (!live_ && (playState_ == play_state::kStopped || (eofReached_ && !pendingSeek_))) seekTo(0);
    userPaused_ = false;
    setFlag("pause", false);
    setPlayState(play_state::kPlaying);
}

void MpvSession::followEnd(bool atEnd) {
    eofReached_ = atEnd;
    // mpv pauses by itself only at the end of the file (keep-open).
    if (atEnd)
        setPlayState(play_state::kStopped);
    else if (playState_ == play_state::kStopped)
        setPlayState(play_state::kPaused);
}

void MpvSession::pause() {
    // Stopped at the end is already still; it stays "stopped".
    if (playState_ != play_state::kPlaying) return;
    userPaused_ = true;
    setFlag("pause", true);
    setPlayState(play_state::kPaused);
}

double MpvSession::currentPosition() const {
    return pendingSeek_ ? *pendingSeek_ : timePos_;
}

void MpvSession::setCurrentPosition(double seconds) {
    if (mediaEntryId_ < 0) return;
    if (live()) {
        // Within what has been received: further back is the oldest point held.
        follower_.leave();
        goingLive_ = false;
        if (seekableKnown_) seconds = std::clamp(seconds, seekStart_, std::max(seekStart_, seekEnd_));
    }
    seekTo(seconds);
    if (playState_ == play_state::kStopped) setPlayState(play_state::kPaused);  // no longer at the end
}

void MpvSession::seekTo(double seconds) {
    seconds = std::max(0.0, seconds);
    pendingSeek_ = seconds;
    ++seekGeneration_;
    char target[32];
    std::snprintf(target, sizeof target, "%.6f", seconds);
    command({"seek", target, "absolute+exact"}, reply(kSeekReply, seekGeneration_));
    emit timesChanged();
}

void MpvSession::setSlowSpeed(bool slow) {
    // At slow speed the video runs in short bursts: the sound would only stutter.
    slow_ = slow;
    applyMute();
    followLive();
}

void MpvSession::toggleMute() {
    userMuted_ = !userMuted_;
    applyMute();
}

void MpvSession::setVolume(int percent) {
    double volume = percent;
    mpv_set_property_async(mpv_, 0, "volume", MPV_FORMAT_DOUBLE, &volume);
}

void MpvSession::applyMute() {
    setFlag("mute", userMuted_ || slow_);
    emit mutedChanged(userMuted_ || slow_);
}

// ---- Events from mpv ---------------------------------------------------

void MpvSession::drainEvents() {
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

void MpvSession::handleEvent(const mpv_event& event) {
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
            } else if (kind == kReconnectReply && reconnecting_) {
                if (event.error < 0) {
                    reconnecting_ = false;
                    if (watchdog_) watchdog_->retryFailed();
                } else {
                    reconnectEntryId_ = nodeInt(static_cast<const mpv_event_command*>(event.data)->result,
                                                "playlist_entry_id");
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
            } else if (reconnecting_ && reconnectEntryId_ >= 0 && currentEntryId_ == reconnectEntryId_) {
                // The source is back: it plays at live by itself.
                reconnecting_ = false;
                mediaEntryId_ = reconnectEntryId_;
                eofReached_ = false;
                pendingSeek_.reset();
                // Paused by the user (a review, F7): it stays paused where the
                // source starts again; otherwise it plays on at live.
                if (userPaused_) {
                    setFlag("pause", true);
                    setPlayState(play_state::kPaused);
                } else {
                    follower_.goLive();
                    setFlag("pause", false);
                    setPlayState(play_state::kPlaying);
                }
            }
            break;
        case MPV_EVENT_VIDEO_RECONFIG:
            if (open_ ? open_->loaded : mediaEntryId_ >= 0)
                mpv_get_property_async(mpv_, kVideoParamsReply, "video-out-params", MPV_FORMAT_NODE);
            break;
        case MPV_EVENT_GET_PROPERTY_REPLY: {
            const auto* prop = static_cast<const mpv_event_property*>(event.data);
            if (kind == kCacheReply) {
                if (live() && event.error >= 0 && prop->format == MPV_FORMAT_NODE)
                    followCache(*static_cast<const mpv_node*>(prop->data));
            } else if (kind == kRotationReply) {
                const bool answered = event.error >= 0 && prop->format == MPV_FORMAT_NODE;
                const std::string filter = fileFilters(
                    uprightFilter(answered ? videoRotation(*static_cast<const mpv_node*>(prop->data)) : 0));
                const char* value = filter.c_str();
                // For this file only; the requests are carried out in order.
                mpv_set_property_async(mpv_, 0, "file-local-options/vf", MPV_FORMAT_STRING, &value);
                deinterlacing_ = false;
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
                    const bool changed = !open_ && mediaEntryId_ >= 0 && hasVideo_ &&
                                         (w != videoWidth_ || h != videoHeight_);
                    hasVideo_ = true;
                    videoWidth_ = static_cast<int>(w);
                    videoHeight_ = static_cast<int>(h);
                    if (open_ && open_->loaded) open_->sizeKnown = true;
                    if (changed) emit videoSizeChanged();
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
                // Landed where Go Live sent it: following from here (a
                // delay not reached by the seek is gathered).
                if (goingLive_ && follower_.delay() == 0) follower_.goLive();
                goingLive_ = false;
                emit timesChanged();
            } else if (kind == kLandedEofReply && generation == seekGeneration_ && !pendingSeek_ &&
                       !open_ && mediaEntryId_ >= 0 && !live_) {
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
            } else if (live_ && reconnecting_ && end->playlist_entry_id == reconnectEntryId_) {
                reconnecting_ = false;
                if (watchdog_) watchdog_->retryFailed();
            } else if (live_ && end->playlist_entry_id == mediaEntryId_) {
                liveEnded();  // the source ended or failed: the watchdog reconnects
            } else if (end->playlist_entry_id == mediaEntryId_) {
                closeMedia();  // e.g. the file became unreadable while playing
            }
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE:
            followProperty(*static_cast<const mpv_event_property*>(event.data));
            break;
        default:
            break;
    }
}

}  // namespace velmora

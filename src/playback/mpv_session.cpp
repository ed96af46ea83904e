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
#include "playback/mpv_session_detail.h"

namespace velmora {

using namespace mpv_answers;
using namespace mpv_session_detail;

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
    mpv_observe_property(mpv_, 0, "seekable", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv_, 0, "partially-seekable", MPV_FORMAT_FLAG);
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
    emit timesChanged();  // the strip says so while it waits
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
    emit timesChanged();

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
    playingOut_ = followAfterLoss_ = false;  // opened again, it is gone to live as at an open
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
    followAfterLoss_ = false;  // behind live by choice, also once the source is back
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
        followAfterLoss_ = false;
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

}  // namespace velmora

// Live sources and what mpv reports: opening a stream or a camera, how far
// behind live it plays, going live, noticing a lost signal from what the
// cache receives, and the open media's properties.
#include <mpv/client.h>

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "playback/mpv_answers.h"
#include "playback/mpv_live_feed.h"
#include "playback/mpv_session.h"
#include "playback/video_filters.h"

namespace velmora {

using namespace mpv_answers;

namespace {
// Received and not yet played, more than this is played before the source is
// opened again; less is what following live lags by anyway.
constexpr double kPlayOutAbove = 1.0;
// Playing, and the position still for this long: all of it has been shown.
constexpr qint64 kPlayedOutAfterMs = 1000;
}  // namespace

bool MpvSession::setLiveSource(const MediaSource& source, const std::vector<PlayerOption>& options) {
    if (!source.live()) return false;
    if (open_) {
        error_ = "Another file is still being opened.";
        return true;
    }
    closeMedia();
    error_.clear();
    live_ = true;
    maybeRecording_ = source.kind == SourceKind::Stream && (source.scheme == "http" || source.scheme == "https");
    seekable_ = partiallySeekable_ = false;
    const std::string name = playerTarget(source);
    liveTarget_ = name;
    liveOptionList_ = playerOptionList(options);
    bool encoded = false;  // a camera's pictures, encoded here first
    if (source.kind == SourceKind::Camera) {
        const auto& standIn = options_.cameraStandIn;
        CameraFeed feed = cameraFeed(source, options, standIn ? &*standIn : nullptr, options_.encodeCameras);
        encoded = feed.encoded;
        liveTarget_ = encoded ? feed_->target(std::move(feed.input)) : feed.directTarget;
        liveOptionList_ = playerOptionList(feed.playerOptions);
    }
    aheadBytes_ = 0;
    for (const PlayerOption& o : options)
        if (o.name == "demuxer-max-bytes") aheadBytes_ = std::atoll(o.value.c_str());
    const std::string what = source.kind == SourceKind::Camera ? "The camera " : "The stream ";
    const std::string prefix = what + source.location + " could not be opened: ";
    openTarget(liveTarget_, liveOptionList_, prefix);
    if (mediaEntryId_ < 0) {
        stopLive();
        if (const std::string why = encoded ? feed_->lastError() : ""; !why.empty()) error_ = prefix + why;
        // A datagram stream (or an SRT peer that answers) that sends nothing
        // fails only when the player finds no format in the silence: say
        // what happened instead.
        const auto timeout = std::find_if(options.begin(), options.end(),
                                          [](const PlayerOption& o) { return o.name == "network-timeout"; });
        if ((source.scheme == "udp" || source.scheme == "rtp" || source.scheme == "srt") &&
            timeout != options.end() &&
            error_.find("unrecognized file format") != std::string::npos)
            error_ = prefix + "nothing arrived within " + timeout->value + " seconds.";
        return true;
    }
    fileName_ = name;
    cacheEnd_ = -1;
    cacheFull_ = false;
    follower_ = LiveFollower{};
    follower_.setDelay(liveDelay_);
    follower_.goLive();
    // A delay is gathered from the first frame on.
    if (liveDelay_ > 0) setFlag("pause", true);
    watchdog_ = std::make_unique<SignalWatchdog>(timers_, source.kind);
    watchdog_->onLost = [this] { emit timesChanged(); };
    watchdog_->onBack = [this] {
        playingOut_ = false;
        const bool follow = followAfterLoss_;
        followAfterLoss_ = false;
        // Far behind what it is to follow (a delay shortened meanwhile): gone
        // to at once; else the lag is made up without showing anything again.
        const bool far = cacheEnd_ - currentPosition() > follower_.delay() + LiveFollower::kSeekAbove;
        if (follow && far) return goLive();
        if (follow) follower_.rejoin();
        followLive();
    };
    watchdog_->onRetry = [this] {
        // Opening the source again drops what was received and not yet
        // played (a delay's worth, or all of it behind live): that is
        // played first, also after a pause, and followLive() asks for the
        // reconnect once the picture has stood still at its end.
        if (!playingOut_ && cacheEnd_ - currentPosition() > kPlayOutAbove) {
            playingOut_ = true;
            playOutPosition_ = currentPosition();
            playOutMoved_.start();
        }
        if (playingOut_) return watchdog_->retryFailed();
        reconnect();
    };
    watchdog_->start();
    cachePoll_->start(200);
    followSeekable();
    return true;
}

void MpvSession::followSeekable() {
    // A stream over HTTP that can be sought in by itself, and not only in
    // what the cache received, is a recording on a web server: its server
    // gives its length and answers byte ranges, which no live sender does.
    // It plays as a file from here on, to its end, and is never opened again.
    if (!live() || !maybeRecording_ || !seekable_ || partiallySeekable_) return;
    stopLive();
    follower_ = LiveFollower{};
    // The delay's gathering held the picture: a file plays at once.
    if (playState_ == play_state::kPlaying && pauseSent_ && !userPaused_) setFlag("pause", false);
    emit timesChanged();
}

void MpvSession::followProperty(const mpv_event_property& prop) {
    const std::string_view name = prop.name;
    if (name == "time-pos" || name == "duration") {
        // Unknown, or reported by a file that is no longer open: 0.
        const bool current = open_ || mediaEntryId_ >= 0;
        const double value =
            current && prop.format == MPV_FORMAT_DOUBLE ? *static_cast<double*>(prop.data) : 0;
        (name == "time-pos" ? timePos_ : duration_) = value;
        emit timesChanged();
    } else if (name == "video-dec-params") {
        // The video's own transfer function decides the tone mapping.
        const auto* params =
            prop.format == MPV_FORMAT_NODE ? static_cast<const mpv_node*>(prop.data) : nullptr;
        const mpv_node* gamma = params ? nodeValue(*params, "gamma") : nullptr;
        const mpv_node* peak = params ? nodeValue(*params, "sig-peak") : nullptr;
        emit transferChanged(
            transferNamed(gamma && gamma->format == MPV_FORMAT_STRING ? gamma->u.string : ""),
            peak && peak->format == MPV_FORMAT_DOUBLE ? peak->u.double_ : 0);
    } else if (name == "video-frame-info/interlaced") {
        // Known from the first frame on; the filters end with the file.
        if (prop.format == MPV_FORMAT_FLAG && *static_cast<int*>(prop.data) && !deinterlacing_ &&
            (open_ || mediaEntryId_ >= 0)) {
            deinterlacing_ = true;
            command({"vf", "pre", kDeinterlaceFilter});
        }
    } else if (prop.format == MPV_FORMAT_INT64) {
        const auto value = *static_cast<std::int64_t*>(prop.data);
        if (name == "frame-drop-count") frameDrops_ = value;
        if (name == "decoder-frame-drop-count") decoderFrameDrops_ = value;
    } else if (name == "seekable" || name == "partially-seekable") {
        const bool value = prop.format == MPV_FORMAT_FLAG && *static_cast<int*>(prop.data);
        (name == "seekable" ? seekable_ : partiallySeekable_) = value;
        followSeekable();
    } else if (name == "eof-reached") {
        // Only a report about the open file at the position last asked
        // for counts: one made before a seek (a play from the end
        // starts with one) describes where the video no longer is.
        // The end is judged again when the seek has landed.
        const bool atEnd = prop.format == MPV_FORMAT_FLAG && *static_cast<int*>(prop.data);
        if (live_) {
            if (atEnd && !open_ && mediaEntryId_ >= 0 && currentEntryId_ == mediaEntryId_) liveEnded();
        } else if (!open_ && mediaEntryId_ >= 0 && currentEntryId_ == mediaEntryId_ && !pendingSeek_) {
            followEnd(atEnd);
        }
    }
}

void MpvSession::Timers::arm(Timer& timer, int intervalMs) {
    auto* qtimer = static_cast<QTimer*>(timer.hostData);
    if (!qtimer) {
        qtimer = new QTimer;
        timer.hostData = qtimer;
        QObject::connect(qtimer, &QTimer::timeout, [&timer] { timer.tick(); });
    }
    qtimer->start(intervalMs);
}

void MpvSession::Timers::disarm(Timer& timer) {
    // The QTimer goes with its schedule; later, as this may be its own tick.
    if (auto* qtimer = static_cast<QTimer*>(timer.hostData)) {
        qtimer->stop();
        qtimer->disconnect();
        qtimer->deleteLater();
    }
    timer.hostData = nullptr;
}

void MpvSession::stopLive() {
    live_ = reconnecting_ = playingOut_ = followAfterLoss_ = false;
    feed_->forget();
    cachePoll_->stop();
    watchdog_.reset();
    seekableKnown_ = false;
    cacheEnd_ = -1;
    if (speed_ != 1) {
        speed_ = 1;
        mpv_set_property_async(mpv_, 0, "speed", MPV_FORMAT_DOUBLE, &speed_);
    }
}

void MpvSession::goLive() {
    if (!live()) return;
    follower_.goLive();
    // While the signal is lost nothing is followed: to the delay in what was
    // received, and played out from there.
    if (follower_.delay() > 0 && watchdog_ && watchdog_->lost() && cacheEnd_ >= 0) return seekTo(delayTarget());
    // With a delay the follower asks for the seek to it, at once while
    // playing, else when playing starts (F8 in a review plays on after it).
    if (follower_.delay() > 0) {
        if (playState_ == play_state::kPlaying) followLive();
        return;
    }
    // The newest point that can be sought to is the last key frame; the
    // catch-up runs from where the seek lands.
    if (seekableKnown_) {
        seekTo(seekEnd_);
        goingLive_ = true;
    }
}

void MpvSession::setLiveDelay(int seconds) {
    seconds = std::clamp(seconds, 0, kMaxLiveDelay);
    if (seconds == liveDelay_) return;
    liveDelay_ = seconds;
    follower_.setDelay(seconds);
    // Followed now, the new delay is gone to at once; behind (paused, moved
    // back) it waits for Go Live.
    if (live() && follower_.following()) goLive();
}

std::string MpvSession::liveText() const {
    if (!live() || !watchdog_) return {};
    return liveStripText(follower_, *watchdog_, playingOut_);
}

void MpvSession::followCache(const mpv_node& state) {
    const mpv_node* end = nodeValue(state, "cache-end");
    const mpv_node* ranges = nodeValue(state, "seekable-ranges");
    if (ranges && ranges->format == MPV_FORMAT_NODE_ARRAY && ranges->u.list->num > 0) {
        const mpv_node& first = ranges->u.list->values[0];
        const mpv_node& last = ranges->u.list->values[ranges->u.list->num - 1];
        const mpv_node* start = nodeValue(first, "start");
        const mpv_node* stop = nodeValue(last, "end");
        if (start && stop && start->format == MPV_FORMAT_DOUBLE && stop->format == MPV_FORMAT_DOUBLE) {
            seekStart_ = start->u.double_;
            seekEnd_ = stop->u.double_;
            seekableKnown_ = true;
        }
    }
    if (end && end->format == MPV_FORMAT_DOUBLE) {
        // Something new was received since the last look.
        const bool arrived = end->u.double_ != cacheEnd_;
        cacheEnd_ = end->u.double_;
        if (arrived && watchdog_ && !reconnecting_) watchdog_->arrived();
    }
    // The cache is (nearly) full ahead: the player reads no more until it plays on.
    const mpv_node* ahead = nodeValue(state, "fw-bytes");
    const bool aheadFull =
        ahead && ahead->format == MPV_FORMAT_INT64 && aheadBytes_ > 0 && ahead->u.int64 >= aheadBytes_ * 9 / 10;
    // Paused so, the silence is no lost signal.
    if (watchdog_ && ahead && ahead->format == MPV_FORMAT_INT64 && aheadBytes_ > 0) {
        const bool held = playState_ != play_state::kPlaying && aheadFull;
        if (held != cacheFull_) watchdog_->setHeld(cacheFull_ = held);
    }
    // A delay longer than the cache holds ahead (a source sending more than
    // it allows for that long) is cut to the whole seconds it does hold,
    // gone to from here.
    if (follower_.gathering() && aheadFull && follower_.behind() >= 1) {
        follower_.setDelay(std::floor(follower_.behind()));
        follower_.goLive();
    }
    const mpv_node* eof = nodeValue(state, "eof");
    if (eof && eof->format == MPV_FORMAT_FLAG && eof->u.flag) liveEnded();
    followLive();
}

void MpvSession::followLive() {
    if (!live() || cacheEnd_ < 0) return;
    // While the signal is lost, what was received plays out as it came: no
    // seek, no gathering, no catching up.
    const bool lost = watchdog_ && watchdog_->lost();
    if (lost) {
        followAfterLoss_ = followAfterLoss_ || follower_.following();
        follower_.leave();
        if (playingOut_) {
            const double at = currentPosition();
            if (at != playOutPosition_ || playState_ != play_state::kPlaying) {
                playOutPosition_ = at;
                playOutMoved_.start();
            } else if (playOutMoved_.elapsed() > kPlayedOutAfterMs) {
                playingOut_ = false;
                watchdog_->retryNow();
            }
        }
    }
    // A seek of Go Live's keeps following: the position is where it goes.
    const bool playing = playState_ == play_state::kPlaying && (!pendingSeek_ || goingLive_);
    if (!lost) follower_.update(currentPosition(), cacheEnd_, playing);
    if (follower_.seekWanted() && !pendingSeek_) {
        // To the delay, as far back as the cache holds; a move of less than
        // half a second is not worth a seek (gathering makes up for it).
        const double target = delayTarget();
        follower_.sought();
        if (std::abs(target - currentPosition()) > 0.5) {
            seekTo(target);
            goingLive_ = true;
        }
        follower_.update(currentPosition(), cacheEnd_, playing);
    }
    // Gathering holds the picture; mpv goes on receiving while paused.
    if (playState_ == play_state::kPlaying && follower_.gathering() != pauseSent_)
        setFlag("pause", follower_.gathering());
    // At slow speed the window plays in steps of its own: no catching up.
    const double speed = slow_ ? 1.0 : follower_.speed();
    if (speed != speed_) {
        speed_ = speed;
        mpv_set_property_async(mpv_, 0, "speed", MPV_FORMAT_DOUBLE, &speed_);
    }
    emit timesChanged();
}

double MpvSession::delayTarget() const {
    // The delay behind the newest frame received, as far back as the cache holds.
    const double held = seekableKnown_ ? seekStart_ : currentPosition();
    return std::clamp(cacheEnd_ - follower_.delay(), held, std::max(held, cacheEnd_));
}

void MpvSession::liveEnded() {
    if (watchdog_ && !reconnecting_) watchdog_->ended();
}

}  // namespace velmora

// The session's side of mpv's events: replies to what was asked, properties
// that changed, files started, loaded and ended, and mpv's log.
#include <mpv/client.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "playback/mpv_answers.h"
#include "playback/mpv_session.h"
#include "playback/mpv_session_detail.h"
#include "playback/video_filters.h"

namespace velmora {

using namespace mpv_answers;
using namespace mpv_session_detail;

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
                cacheEnd_ = -1;  // mpv holds nothing more of it to play out
                playingOut_ = false;
                liveEnded();     // the source ended or failed: the watchdog reconnects
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

// What the session's two halves share: the kinds of asynchronous replies
// and one open in progress.
#pragma once

#include <mpv/client.h>

#include <QEventLoop>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "playback/mpv_answers.h"
#include "playback/mpv_session.h"

namespace velmora {
namespace mpv_session_detail {

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
inline std::uint64_t reply(Reply kind, std::uint64_t generation = 0) {
    return generation << 8 | kind;
}

inline const std::string kOpenFailed = "The file could not be opened: ";

}  // namespace mpv_session_detail

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
    std::string prefix = mpv_session_detail::kOpenFailed;
    // Why it failed, when mpv itself gives no reason.
    std::string reason;
    std::vector<std::pair<std::string, std::string>> log;  // mpv's warnings and errors meanwhile

    bool done() const { return failed || (loaded && sizeKnown); }

    std::string failure() const {
        if (!reason.empty()) return prefix + reason + ".";
        std::string detail;
        for (auto it = log.rbegin(); it != log.rend() && detail.empty(); ++it)
            detail = mpv_answers::logReason(it->first, it->second);
        std::string reason = mpvError < 0 ? mpv_error_string(mpvError) : "";
        if (reason.empty() || mpvError == MPV_ERROR_LOADING_FAILED)
            reason = !detail.empty() ? detail : !reason.empty() ? reason : "loading was interrupted";
        else if (!detail.empty() && detail != reason)
            reason += " (" + detail + ")";
        return prefix + reason + ".";
    }
};

}  // namespace velmora

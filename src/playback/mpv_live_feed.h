// The player's way to a camera's encoded pictures: a protocol of its own,
// whose every open starts a LiveEncoder on the camera and whose close stops
// it (closing the device).  Opening the same target again after the source
// ended, as a reconnect does, opens the camera anew.
#pragma once

#include <mutex>
#include <string>

#include "playback/live_feed.h"

struct mpv_handle;
struct mpv_stream_cb_info;

namespace velmora {

class MpvLiveFeed {
public:
    // Registers the protocol with `mpv`, which must be destroyed first
    // (mpv_terminate_destroy() closes every stream still open).
    explicit MpvLiveFeed(mpv_handle* mpv);

    // The target that opens `input`; a target handed out before no longer
    // opens.  It holds a random part, so that no playlist can name it.
    std::string target(CaptureInput input);
    // No target opens any more (the camera is closed).
    void forget();
    // Why the last open failed, in words ("" when it did not).
    std::string lastError();

private:
    static int open(void* self, char* uri, mpv_stream_cb_info* info);

    std::mutex m_;
    CaptureInput input_;
    std::string current_;
    std::string lastError_;
};

}  // namespace velmora

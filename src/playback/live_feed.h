// How a camera's pictures reach the player.  Raw and MJPEG pictures are far
// too large to be kept for time-shift (a minute of raw 1080p at 30 fps is
// about 7 GB), so such a camera is read by the program itself and its
// pictures are encoded to H.264 in an MPEG-TS stream (LiveEncoder), which
// the player reads as a live stream: its cache then holds compressed packets
// as it does for a network stream.  A camera that sends H.264 already is
// read by the player directly.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "playback/media_source.h"

namespace velmora {

// An input the FFmpeg libraries read pictures from: the input format
// ("video4linux2"), the name it opens ("/dev/video0") and its options.
struct CaptureInput {
    std::string format;
    std::string url;
    std::vector<std::pair<std::string, std::string>> options;
    bool operator==(const CaptureInput&) const = default;
};

// The encoder's highest bit rate, bits per second.
inline constexpr long long kFeedMaxBitrate = 6'000'000;
// Seconds of the encoded stream the player keeps behind, and ahead of, the
// play position: a minute of time-shift or of delay, and half as much again.
inline constexpr int kFeedCacheSeconds = 90;
// Those seconds in bytes at the highest rate, and a quarter more for the
// rate control's overshoot.
inline constexpr long long kFeedCacheBytes = kFeedCacheSeconds * kFeedMaxBitrate / 8 * 5 / 4;
static_assert(kFeedCacheBytes >= 60 * kFeedMaxBitrate / 8 * 3 / 2, "a minute of time-shift, and a margin");
static_assert(kFeedCacheBytes <= 128ll << 20, "no more than a stream's cache");
// A key frame about every second, so that a seek lands close to where it aims.
inline constexpr double kFeedKeyFrameSeconds = 1.0;

// Whether a camera in `mode` (null: its own default mode) is encoded before
// the player keeps it: unless it sends H.264 itself.
bool cameraFeedEncoded(const CameraSettings* mode);

// What the player opens for a camera.
struct CameraFeed {
    bool encoded = false;
    // Encoded: what the encoder reads.  Otherwise: the player's own target.
    CaptureInput input;
    std::string directTarget;
    // The options the player opens the feed (or the camera) with.
    std::vector<PlayerOption> playerOptions;
};

// The feed for `camera`, opened with `options` as liveOptions() gives them
// (its mode travels in "demuxer-lavf-o").  `standIn`, when given, is read in
// place of the device; it is set by code only, never from a name a user
// hands over.  `encode` false reads every camera directly.
CameraFeed cameraFeed(const MediaSource& camera, const std::vector<PlayerOption>& options,
                      const CaptureInput* standIn, bool encode);

}  // namespace velmora

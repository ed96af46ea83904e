// What a name handed to the program opens as: a video file, a network
// stream or a camera; and how the player is asked to play each.
//
// Names come from the command line, a drop and the open dialogs.  Only the
// three kinds below ever reach the player: every other protocol the player
// knows (av://, lavfi://, file options, concat, edl://, memory://, ...) is
// refused here, so that no name a user or a drop hands over can reach it.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class SourceKind { File, Stream, Camera };

// The schemes that open as network streams (HLS playlists go over http(s)).
inline constexpr std::array<std::string_view, 9> kStreamSchemes{"http", "https", "rtsp", "rtsps", "rtmp",
                                                                "rtmps", "srt",  "udp",   "rtp"};

struct MediaSource {
    SourceKind kind = SourceKind::File;
    // File: the absolute path.  Stream: the URL, its scheme in lower case.
    // Camera: the device node, /dev/videoN.
    std::string location;
    // Stream: the scheme ("http", ...); empty otherwise.
    std::string scheme;

    bool live() const { return kind != SourceKind::File; }
};

// A name classified: the source, or why it is refused (a sentence that
// names what the program opens).
struct SourceChoice {
    MediaSource source;
    std::string refusal;
    bool ok() const { return refusal.empty(); }
};

// Classifies `name` as given by a user or a drop.
//  - Quotes around a name go unless a file has that very name (a file whose
//    name holds quotes of its own opens under its name).
//  - "scheme://..." with a stream scheme is a stream: it keeps its bytes and
//    is refused when it holds a control character or a space, or has no
//    host (udp and rtp may leave the host out to listen on every address).
//    file:// URLs are local files; any other scheme is refused.
//  - /dev/videoN, or a link to it (/dev/v4l/by-id/...), is a camera.
//  - Anything else is a local file, made absolute against the current folder,
//    so that the player never reads it as standard input ("-") or a protocol.
SourceChoice classifySource(const std::string& name);

// The sentence that names what the program opens, closing every refusal.
std::string whatOpens();

// The caption part that names a source: the path of a file; the host (with
// its port) and path of a URL, never its user, password or query; the
// device's name for a camera (`cameraName`, or the node when it is empty).
std::string sourceCaption(const MediaSource& source, const std::string& cameraName = {});

// ---- How the player plays a live source -----------------------------------

// A player option (per file) as name and value.
struct PlayerOption {
    std::string name;
    std::string value;
    bool operator==(const PlayerOption&) const = default;
};

// How much of a live source is kept for time-shift: compressed packets ahead
// of and behind the play position.  (A camera whose pictures the program
// encodes keeps what the encoder's rate gives: see live_feed.h.)
struct LiveBuffer {
    long long aheadBytes = 128ll << 20;
    long long behindBytes = 128ll << 20;
    // How long opening a stream may wait for its server, in seconds.
    int openTimeoutSeconds = 10;
};

// The camera settings a device is opened with: the player's input format
// name ("mjpeg", "yuyv422", ...), the size and the frame rate (as the
// fraction frames / seconds).
struct CameraSettings {
    std::string inputFormat;
    int width = 0;
    int height = 0;
    int rateNumerator = 0;
    int rateDenominator = 1;
};

// What the player is asked to open for `source`: the path, the URL, or
// "av://v4l2:/dev/videoN" for a camera.
std::string playerTarget(const MediaSource& source);

// The per-file options a live source is opened with, empty for a file:
// playback starts with the first frame, without waiting for a filled cache,
// and follows the newest frame; the cache keeps receiving while paused up to
// `buffer`, and can be seeked in; a camera gets its mode.  `camera` is used
// for cameras only and may be null (the device's own default mode).
std::vector<PlayerOption> liveOptions(const MediaSource& source, const LiveBuffer& buffer,
                                      const CameraSettings* camera);

// The options as one list for the player's load command ("a=v,b=w"), each
// value with its length in front ("%5%value"), so that commas, equals signs
// and quotes inside values stay part of them.
std::string playerOptionList(const std::vector<PlayerOption>& options);

}  // namespace velmora

#include "playback/media_source.h"

#include "playback/live_feed.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velmora {

namespace {

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The scheme of "scheme://...", in lower case; "" when the name does not
// start with one ("clips/a://b.mp4" does not: a folder comes first).
std::string schemeOf(std::string_view name) {
    if (name.empty() || !isAsciiAlpha(name[0])) return {};
    std::size_t i = 1;
    while (i < name.size() && (isAsciiAlpha(name[i]) || isAsciiDigit(name[i]) || name[i] == '+' ||
                               name[i] == '-' || name[i] == '.'))
        ++i;
    if (name.substr(i, 3) != "://") return {};
    std::string scheme(name.substr(0, i));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), asciiLower);
    return scheme;
}

bool validHostName(const std::string& host) {
    return std::all_of(host.begin(), host.end(), [](char c) {
        return isAsciiAlpha(c) || isAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '%';
    });
}

// The parts of "scheme://user@host:port/path?query".
struct UrlParts {
    std::string host;  // without the brackets of an IPv6 address
    std::string hostPort;
    std::string path;  // up to the query or fragment
    bool valid = true;  // the host and port are well formed
};

UrlParts splitUrl(std::string_view url) {
    UrlParts parts;
    std::string_view rest = url.substr(url.find("://") + 3);
    const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, end);
    rest.remove_prefix(end);
    parts.path = std::string(rest.substr(0, std::min(rest.find_first_of("?#"), rest.size())));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    parts.hostPort = std::string(authority);

    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            parts.valid = false;
            return parts;
        }
        parts.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) parts.valid = false;
        if (after.starts_with(':')) port = after.substr(1);
        if (parts.host.empty() || parts.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            parts.valid = false;
    } else {
        const auto colon = authority.rfind(':');
        parts.host = std::string(authority.substr(0, std::min(colon, authority.size())));
        if (colon != std::string_view::npos) port = authority.substr(colon + 1);
        if (colon != std::string_view::npos && port.empty()) parts.valid = false;
        if (!validHostName(parts.host)) parts.valid = false;
    }
    if (!port.empty()) {
        const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(), isAsciiDigit);
        const long value = digits ? std::stol(std::string(port)) : 0;
        if (value < 1 || value > 65535) parts.valid = false;
    }
    return parts;
}

bool isVideoNode(const std::string& path) {
    constexpr std::string_view prefix = "/dev/video";
    if (!path.starts_with(prefix) || path.size() == prefix.size() || path.size() > prefix.size() + 3) return false;
    return std::all_of(path.begin() + prefix.size(), path.end(), isAsciiDigit);
}

int hexValue(char c) {
    if (isAsciiDigit(c)) return c - '0';
    c = asciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "%20" and the like decoded; a '%' that starts no escape stays.
std::string percentDecoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

SourceChoice refuse(const std::string& reason) { return {{}, reason + " " + whatOpens()}; }

SourceChoice streamSource(const std::string& url, const std::string& scheme) {
    const bool listens = scheme == "udp" || scheme == "rtp" || scheme == "srt";
    if (std::any_of(url.begin(), url.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }))
        return refuse("The address holds a space or a control character.");
    const UrlParts parts = splitUrl(url);
    if (!parts.valid) return refuse("The address has no valid host or port.");
    if (parts.host.empty() && !listens) return refuse("The address names no host.");
    // Listening on every address needs a port to listen on.
    if (parts.host.empty() && parts.hostPort.find(':') == std::string::npos)
        return refuse("The address names no host.");
    std::string location = url;
    std::copy(scheme.begin(), scheme.end(), location.begin());  // the scheme in lower case
    return {{SourceKind::Stream, location, scheme}, {}};
}

}  // namespace

std::string whatOpens() {
    return "Velmora opens video files, cameras (/dev/video0 and the like) and network streams whose address "
           "begins with http, https, rtsp, rtsps, rtmp, rtmps, srt, udp or rtp.";
}

SourceChoice classifySource(const std::string& name) {
    std::string unquoted = name;
    std::error_code exists;
    if (!std::filesystem::exists(name, exists)) std::erase(unquoted, '"');

    if (const std::string scheme = schemeOf(unquoted); !scheme.empty()) {
        if (std::find(kStreamSchemes.begin(), kStreamSchemes.end(), scheme) != kStreamSchemes.end())
            return streamSource(unquoted, scheme);
        if (scheme == "file") {
            const UrlParts parts = splitUrl(unquoted);
            if ((parts.hostPort.empty() || parts.hostPort == "localhost") && parts.path.starts_with('/'))
                return {{SourceKind::File, percentDecoded(parts.path), {}}, {}};
            return refuse("Only local files open from a file:// address.");
        }
        return refuse("Velmora does not open " + scheme + ":// addresses.");
    }

    if (isVideoNode(unquoted)) return {{SourceKind::Camera, unquoted, {}}, {}};
    std::error_code ec;
    if (std::filesystem::is_character_file(unquoted, ec)) {
        const auto device = std::filesystem::canonical(unquoted, ec).string();
        if (!ec && isVideoNode(device)) return {{SourceKind::Camera, device, {}}, {}};
    }

    // The player reads "-" as standard input and "x://..." as a URL: it is
    // given the file's absolute path.
    if (!unquoted.empty() && unquoted.front() != '/') {
        const auto absolute = std::filesystem::absolute(unquoted, ec);
        if (!ec) unquoted = absolute.string();
    }
    return {{SourceKind::File, unquoted, {}}, {}};
}

std::string sourceCaption(const MediaSource& source, const std::string& cameraName) {
    switch (source.kind) {
        case SourceKind::File: return source.location;
        case SourceKind::Camera: return cameraName.empty() ? source.location : cameraName;
        case SourceKind::Stream: {
            const UrlParts parts = splitUrl(source.location);
            // A listening address has no host: it is named with its scheme.
            if (parts.host.empty()) return source.scheme + "://" + parts.hostPort + parts.path;
            return parts.hostPort + parts.path;
        }
    }
    return source.location;
}

std::string playerTarget(const MediaSource& source) {
    return source.kind == SourceKind::Camera ? "av://v4l2:" + source.location : source.location;
}

std::vector<PlayerOption> liveOptions(const MediaSource& source, const LiveBuffer& buffer,
                                      const CameraSettings* camera) {
    if (!source.live()) return {};
    // Measured with the player on a stream of ffmpeg's over 127.0.0.1: these
    // give the latency of its low-latency profile (one decoding thread, no
    // probing beyond the first packets, no input buffering) and keep the
    // cache, which that profile leaves to its defaults, for time-shift.
    // A camera's encoded pictures are kept for as long as the encoder's
    // highest rate allows in the same bytes.
    const bool encoded = source.kind == SourceKind::Camera && cameraFeedEncoded(camera);
    std::vector<PlayerOption> options{
        // The cache keeps receiving while paused and can be sought in,
        // although the stream itself cannot.
        {"cache", "yes"},
        {"demuxer-seekable-cache", "yes"},
        {"demuxer-max-bytes", std::to_string(encoded ? kFeedCacheBytes : buffer.aheadBytes)},
        {"demuxer-max-back-bytes", std::to_string(encoded ? kFeedCacheBytes : buffer.behindBytes)},
        // Play the first frame at once, and never wait for the cache to fill.
        {"cache-pause", "no"},
        {"cache-pause-initial", "no"},
        {"demuxer-lavf-probe-info", "nostreams"},
        {"demuxer-lavf-analyzeduration", "0.1"},
        {"stream-buffer-size", "4k"},
        {"audio-buffer", "0"},
        // Frame threads hold back one frame each.
        {"vd-lavc-threads", "1"},
        {"video-latency-hacks", "yes"},
        // A playlist from the network opens no local files.  (Turning off
        // references altogether would stop HLS, whose segments are references.)
        {"load-unsafe-playlists", "no"},
    };
    std::string lavf = "fflags=+nobuffer";
    if (source.kind == SourceKind::Stream) {
        options.push_back({"network-timeout", std::to_string(buffer.openTimeoutSeconds)});
        // An HLS playlist names its segments: over http(s) only.
        if (source.scheme == "http" || source.scheme == "https")
            lavf += ",protocol_whitelist=[http,https,tls,tcp,crypto,httpproxy]";
    } else if (camera && !camera->inputFormat.empty()) {
        lavf += ",input_format=" + camera->inputFormat + ",video_size=" + std::to_string(camera->width) + "x" +
                std::to_string(camera->height) + ",framerate=" + std::to_string(camera->rateNumerator) + "/" +
                std::to_string(camera->rateDenominator);
    }
    options.push_back({"demuxer-lavf-o", lavf});
    return options;
}

std::string playerOptionList(const std::vector<PlayerOption>& options) {
    std::string list;
    for (const PlayerOption& o : options) {
        if (!list.empty()) list += ',';
        list += o.name + "=%" + std::to_string(o.value.size()) + "%" + o.value;
    }
    return list;
}

}  // namespace velmora

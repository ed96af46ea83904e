// A live stream for end-to-end tests and benchmarks: a test video (the
// numbered clip unless told) sent at its own rate by the ffmpeg command-line
// tool on 127.0.0.1, as MPEG-TS, repeated without end.
//  - HTTP: ffmpeg listens (-listen 1) and starts sending when the player
//    connects, so that the player sees the stream from its first frame.
//  - UDP: ffmpeg sends at once whether anyone receives or not; a player
//    joins mid-stream, and the stream never ends.
//  - SRT: ffmpeg listens; the player calls.  startSilent() listens and
//    accepts the call but sends nothing.
// The port is a free one, kept over stop() and start() so that a player can
// reconnect to the same address.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/files.h"
#include "support/x_session.h"

namespace velmora::testing {

// Frames from `a` to `b` on the numbered clip's 500-frame loop.
inline int framesBetween(int a, int b) { return ((b - a) % 500 + 500) % 500; }

class LiveSender {
public:
    enum class Protocol { Http, Udp, Srt };

    explicit LiveSender(Protocol protocol, std::string video = mediaPath("numbered.mp4"))
        : protocol_(protocol), video_(std::move(video)), port_(freePort(protocol != Protocol::Http)) {
        const std::string dir = std::filesystem::temp_directory_path().string();
        const std::string stem = dir + "/velmora-sender-" + std::to_string(::getpid()) + "-" + std::to_string(port_);
        progressPath_ = stem + ".progress";
        logPath_ = stem + ".log";
    }
    ~LiveSender() {
        stop();
        std::error_code ec;
        std::filesystem::remove(progressPath_, ec);
        std::filesystem::remove(logPath_, ec);
    }
    LiveSender(const LiveSender&) = delete;
    LiveSender& operator=(const LiveSender&) = delete;

    // Starts sending; for HTTP and SRT returns once ffmpeg listens.  False
    // when ffmpeg cannot be started or does not listen within 5 s.
    bool start() {
        stop();
        std::filesystem::remove(progressPath_);
        std::vector<std::string> argv{ffmpegPath(), "-hide_banner", "-loglevel", "error", "-nostdin",
                                      "-re", "-stream_loop", "-1", "-i", video_, "-c", "copy", "-an",
                                      "-progress", progressPath_, "-stats_period", "0.1", "-f", "mpegts"};
        switch (protocol_) {
            case Protocol::Http:
                argv.insert(argv.end(), {"-listen", "1", "http://127.0.0.1:" + std::to_string(port_) + "/live.ts"});
                break;
            case Protocol::Udp:
                argv.push_back("udp://127.0.0.1:" + std::to_string(port_) + "?pkt_size=1316");
                break;
            case Protocol::Srt:
                argv.push_back("srt://127.0.0.1:" + std::to_string(port_) + "?mode=listener&latency=20000");
                break;
        }
        if (!process_.start(argv, {}, {}, logPath_)) return false;
        if (protocol_ == Protocol::Udp) return process_.running();
        return pollUntil([&] { return !process_.running() || listening(); }, 5000) && process_.running();
    }

    // An SRT listener that takes the player's call and sends nothing: ffmpeg
    // listening to receive.  Returns once it listens.
    bool startSilent() {
        stop();
        const std::string at = "srt://127.0.0.1:" + std::to_string(port_) + "?mode=listener";
        return process_.start({ffmpegPath(), "-hide_banner", "-loglevel", "error", "-nostdin", "-f", "mpegts", "-i",
                               at, "-f", "null", "-"},
                              {}, {}, logPath_) &&
               pollUntil([&] { return !process_.running() || listening(); }, 5000) && process_.running();
    }

    // Stops ffmpeg (SIGTERM, SIGKILL when it does not end) and waits for it.
    void stop() { process_.stop(); }
    bool running() { return process_.running(); }
    pid_t pid() const { return process_.pid(); }

    // What the player opens.
    std::string url() const {
        const std::string port = std::to_string(port_);
        switch (protocol_) {
            case Protocol::Http: return "http://127.0.0.1:" + port + "/live.ts";
            case Protocol::Udp: return "udp://127.0.0.1:" + port;
            case Protocol::Srt: return "srt://127.0.0.1:" + port + "?latency=20000";
        }
        return {};
    }
    int port() const { return port_; }

    // Frames sent since the last start, as ffmpeg last reported them (every
    // 0.1 s); the numbered clip shows frame number (sent - 1) mod 500.
    int framesSent() const {
        std::ifstream in(progressPath_);
        int frames = 0;
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("frame=")) frames = std::atoi(line.c_str() + 6);
        return frames;
    }
    // What ffmpeg said on standard error.
    std::string log() const { return readAll(logPath_); }

    // Whether ffmpeg took this protocol's port: a TCP socket listening, or
    // for SRT the UDP socket it listens on (read from /proc, so that no
    // connection is used up).
    bool listening() const {
        char hex[8];
        std::snprintf(hex, sizeof hex, ":%04X", port_);
        const bool tcp = protocol_ == Protocol::Http;
        std::istringstream table(readAll(tcp ? "/proc/net/tcp" : "/proc/net/udp"));
        std::string line;
        std::getline(table, line);  // the heading
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local.ends_with(hex) && (!tcp || state == "0A")) return true;  // 0A: LISTEN
        }
        return false;
    }

private:
    static std::string ffmpegPath() {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(path ? path : "/usr/bin");
        for (std::string dir; std::getline(dirs, dir, ':');)
            if (::access((dir + "/ffmpeg").c_str(), X_OK) == 0) return dir + "/ffmpeg";
        return "/usr/bin/ffmpeg";
    }
    // A port nobody uses on 127.0.0.1 now.
    static int freePort(bool udp) {
        const int s = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            port = ntohs(a.sin_port);
        ::close(s);
        return port;
    }

    Protocol protocol_;
    std::string video_;
    int port_;
    std::string progressPath_;
    std::string logPath_;
    Child process_;
};

}  // namespace velmora::testing

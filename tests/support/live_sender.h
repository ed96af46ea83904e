// A live stream for end-to-end tests and benchmarks: a test video (the numbered
// clip unless told) sent at its own rate by ffmpeg on 127.0.0.1 as MPEG-TS, looped.
// Over HTTP and SRT ffmpeg listens (HTTP sends from the player's connection on);
// over UDP it sends at once, received or not.  The free port found is kept over
// stop() and start() so that a player can reconnect to the same address.
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
        const std::string stem = std::filesystem::temp_directory_path().string() + "/velmora-sender-" +
                                 std::to_string(::getpid()) + "-" + std::to_string(port_);
        progressPath_ = stem + ".progress";
        logPath_ = stem + ".log";
    }
    ~LiveSender() {
        stop();
        std::error_code ec;
        for (const auto& path : {progressPath_, logPath_}) std::filesystem::remove(path, ec);
    }

    // Starts sending; for HTTP and SRT returns once ffmpeg listens (false: not within 5 s).
    bool start() {
        std::vector<std::string> args{"-re", "-stream_loop", "-1", "-i", video_, "-c", "copy", "-an", "-progress",
                                      progressPath_, "-stats_period", "0.1", "-f", "mpegts"};
        if (protocol_ == Protocol::Http) args.insert(args.end(), {"-listen", "1"});
        args.push_back(url() + (protocol_ == Protocol::Udp   ? "?pkt_size=1316"
                                : protocol_ == Protocol::Srt ? "&mode=listener"
                                                             : ""));
        return launch(args);
    }
    // An SRT listener that takes the player's call and sends nothing.
    bool startSilent() {
        return launch({"-f", "mpegts", "-i", "srt://127.0.0.1:" + std::to_string(port_) + "?mode=listener", "-f",
                       "null", "-"});
    }
    void stop() { process_.stop(); }
    // What the player opens.
    std::string url() const {
        const std::string at = "127.0.0.1:" + std::to_string(port_);
        return protocol_ == Protocol::Http  ? "http://" + at + "/live.ts"
               : protocol_ == Protocol::Udp ? "udp://" + at
                                            : "srt://" + at + "?latency=20000";
    }
    int port() const { return port_; }

    // Frames sent since the last start as ffmpeg last reported them (every 0.1 s).
    int framesSent() const {
        std::ifstream in(progressPath_);
        int frames = 0;
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("frame=")) frames = std::atoi(line.c_str() + 6);
        return frames;
    }
    std::string log() const { return readAll(logPath_); }  // ffmpeg's standard error

    // Whether ffmpeg took this protocol's port, read from /proc so that no connection is used up.
    bool listening() const {
        char hex[8];
        std::snprintf(hex, sizeof hex, ":%04X", port_);
        const bool tcp = protocol_ == Protocol::Http;
        std::istringstream table(readAll(tcp ? "/proc/net/tcp" : "/proc/net/udp"));
        std::string line;
        for (std::getline(table, line); std::getline(table, line);) {  // after the heading
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local.ends_with(hex) && (!tcp || state == "0A")) return true;  // 0A: LISTEN
        }
        return false;
    }

private:
    bool launch(std::vector<std::string> args) {
        stop();
        std::filesystem::remove(progressPath_);
        args.insert(args.begin(), {ffmpegPath(), "-hide_banner", "-loglevel", "error", "-nostdin"});
        if (!process_.start(args, {}, {}, logPath_)) return false;
        if (protocol_ == Protocol::Udp) return process_.running();
        return pollUntil([&] { return !process_.running() || listening(); }, 5000) && process_.running();
    }
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
        sockaddr_in a{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        socklen_t n = sizeof a;
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0) port = ntohs(a.sin_port);
        ::close(s);
        return port;
    }

    Protocol protocol_;
    std::string video_;
    int port_;
    std::string progressPath_, logPath_;
    Child process_;
};

}  // namespace velmora::testing

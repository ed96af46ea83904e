// A recorded video served over HTTP on 127.0.0.1, as a web server or a NAS
// serves one: its length said, and byte ranges answered, so that a player can
// seek in it.  One thread per connection: a player opens the next one for a
// seek before it closes the last.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"

namespace velmora::testing {

class FileServer {
public:
    explicit FileServer(const std::string& path) : body_(readAll(path)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        socklen_t n = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 8) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            port_ = ntohs(a.sin_port);
        accepting_ = std::thread([this] { accept(); });
    }
    ~FileServer() {
        stopping_ = true;
        accepting_.join();
        std::lock_guard lock(mutex_);
        for (const int fd : connections_) ::shutdown(fd, SHUT_RDWR);
        for (std::thread& t : serving_) t.join();
        for (const int fd : connections_) ::close(fd);
        ::close(listener_);
    }
    std::string url(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }

private:
    void accept() {
        while (!stopping_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            std::lock_guard lock(mutex_);
            connections_.push_back(fd);
            serving_.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd) {
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
            if (got <= 0) return;
            request.append(buf, static_cast<std::size_t>(got));
        }
        std::size_t from = 0;
        if (const auto at = request.find("Range: bytes="); at != std::string::npos)
            from = std::strtoull(request.c_str() + at + 13, nullptr, 10);
        from = std::min(from, body_.size());
        const std::string size = std::to_string(body_.size());
        std::string head = from > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) +
                                          "-" + std::to_string(body_.size() - 1) + "/" + size + "\r\n"
                                    : "HTTP/1.1 200 OK\r\n";
        head += "Content-Type: video/mp4\r\nAccept-Ranges: bytes\r\nConnection: close\r\nContent-Length: " +
                std::to_string(body_.size() - from) + "\r\n\r\n";
        if (sendAll(fd, head.data(), head.size())) sendAll(fd, body_.data() + from, body_.size() - from);
        ::shutdown(fd, SHUT_WR);
    }
    static bool sendAll(int fd, const char* data, std::size_t size) {
        for (std::size_t sent = 0; sent < size;) {
            const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    const std::string body_;
    int listener_ = -1, port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<int> connections_;
    std::vector<std::thread> serving_;
    std::thread accepting_;
};

}  // namespace velmora::testing

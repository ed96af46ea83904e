// The live sender of the end-to-end tests: an HTTP stream that waits for its
// receiver, a UDP stream that does not, both MPEG-TS at the clip's own rate,
// and nothing left sending once stopped.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <sys/socket.h>

#include <thread>

#include "support/live_sender.h"

namespace velmora::testing {
namespace {

// Whether `bytes` are transport stream packets from `from` on: a sync byte every 188 bytes.
bool transportStream(const std::string& bytes, std::size_t from, std::size_t packets) {
    if (bytes.size() < from + packets * 188) return false;
    for (std::size_t i = 0; i < packets; ++i)
        if (bytes[from + i * 188] != 0x47) return false;
    return true;
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void receiveTimeout(int s, int ms) {
    timeval t{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
}

TEST(LiveSender, HttpWaitsForItsReceiverAndSendsInRealTime) {
    LiveSender sender(LiveSender::Protocol::Http);
    ASSERT_TRUE(sender.start()) << sender.log();
    EXPECT_EQ(sender.url(), "http://127.0.0.1:" + std::to_string(sender.port()) + "/live.ts");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sender.framesSent(), 0);  // nobody connected: nothing sent

    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(sender.port());
    ASSERT_EQ(::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    const std::string request = "GET /live.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(::send(s, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    receiveTimeout(s, 5000);
    std::string received;
    char buf[4096];
    const auto started = Clock::now();
    while (Clock::now() - started < std::chrono::milliseconds(2000)) {
        const ssize_t n = ::recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        received.append(buf, static_cast<std::size_t>(n));
    }
    // The body comes in chunks: the first one's size in hex on a line of its own.
    const std::size_t body = received.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_TRUE(received.starts_with("HTTP/1.1 200")) << received.substr(0, 40);
    const std::size_t chunk = received.find("\r\n", body + 4);
    ASSERT_NE(chunk, std::string::npos);
    EXPECT_GE(std::stoul(received.substr(body + 4, chunk - body - 4), nullptr, 16), 20u * 188);
    EXPECT_TRUE(transportStream(received, chunk + 2, 20));
    // Two seconds of a 25 fps clip, not the whole clip at once.
    EXPECT_GE(sender.framesSent(), 35);
    EXPECT_LE(sender.framesSent(), 65);

    ::close(s);
    sender.stop();
    EXPECT_FALSE(sender.running());
    EXPECT_FALSE(sender.listening());
    // Again on the same address, for a player that reconnects.
    ASSERT_TRUE(sender.start());
    EXPECT_TRUE(sender.listening());
}

TEST(LiveSender, UdpSendsWithoutAReceiverAndStopsWhenStopped) {
    LiveSender sender(LiveSender::Protocol::Udp);
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = loopback(sender.port());
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(sender.start()) << sender.log();
    EXPECT_EQ(sender.url(), "udp://127.0.0.1:" + std::to_string(sender.port()));
    receiveTimeout(s, 5000);
    char buf[2048];
    const ssize_t n = ::recv(s, buf, sizeof buf, 0);
    ASSERT_EQ(n, 1316) << sender.log();
    EXPECT_TRUE(transportStream(std::string(buf, 1316), 0, 7));

    sender.stop();
    EXPECT_FALSE(sender.running());
    receiveTimeout(s, 300);
    while (::recv(s, buf, sizeof buf, 0) > 0) {
    }  // what was on its way
    EXPECT_LT(::recv(s, buf, sizeof buf, 0), 0);  // and then nothing
    ::close(s);
}

}  // namespace
}  // namespace velmora::testing

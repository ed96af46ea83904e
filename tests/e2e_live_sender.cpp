// The live sender of the end-to-end tests: an HTTP stream that waits for its
// receiver, a UDP stream that does not, both MPEG-TS at the clip's own rate,
// and nothing left sending once stopped.
#include <gtest/gtest.h>
#include <arpa/inet.h>

#include <thread>

#include "support/live_sender.h"

namespace velmora::testing {
namespace {

// A socket on 127.0.0.1:port, connected (TCP) or bound (UDP), that waits up to 5 s for data.
int socketAt(int port, bool udp) {
    const int s = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* address = reinterpret_cast<const sockaddr*>(&a);
    if ((udp ? ::bind(s, address, sizeof a) : ::connect(s, address, sizeof a)) != 0) return -1;
    const timeval wait{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return s;
}

// Transport stream packets from `from` on: a sync byte every 188 bytes.
bool transportStream(const std::string& bytes, std::size_t from, std::size_t packets) {
    for (std::size_t i = 0; i < packets; ++i)
        if (from + i * 188 >= bytes.size() || bytes[from + i * 188] != 0x47) return false;
    return true;
}

TEST(LiveSender, HttpWaitsForItsReceiverAndSendsInRealTime) {
    LiveSender sender(LiveSender::Protocol::Http);
    ASSERT_TRUE(sender.start()) << sender.log();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sender.framesSent(), 0);  // nobody connected: nothing sent

    const int s = socketAt(sender.port(), false);
    ASSERT_GE(s, 0);
    const std::string request = "GET /live.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(::send(s, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::string received;
    char buf[4096];
    for (const auto until = Clock::now() + std::chrono::seconds(2); Clock::now() < until;) {
        const ssize_t n = ::recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        received.append(buf, static_cast<std::size_t>(n));
    }
    ::close(s);
    // The body comes in chunks, the first one's size in hex on a line of its own.
    EXPECT_TRUE(received.starts_with("HTTP/1.1 200")) << received.substr(0, 40);
    const std::size_t body = received.find("\r\n\r\n");
    const std::size_t chunk = received.find("\r\n", body + 4);
    ASSERT_NE(chunk, std::string::npos);
    EXPECT_TRUE(transportStream(received, chunk + 2, 20));
    // Two seconds of a 25 fps clip, not the whole clip at once.
    EXPECT_GE(sender.framesSent(), 35);
    EXPECT_LE(sender.framesSent(), 65);

    sender.stop();
    EXPECT_FALSE(sender.running());
    EXPECT_FALSE(sender.listening());
    ASSERT_TRUE(sender.start());  // again on the same address, for a player that reconnects
    EXPECT_EQ(sender.url(), "http://127.0.0.1:" + std::to_string(sender.port()) + "/live.ts");
}

TEST(LiveSender, UdpSendsWithoutAReceiverAndStopsWhenStopped) {
    LiveSender sender(LiveSender::Protocol::Udp);
    const int s = socketAt(sender.port(), true);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(sender.start()) << sender.log();
    EXPECT_EQ(sender.url(), "udp://127.0.0.1:" + std::to_string(sender.port()));
    char buf[2048];
    ASSERT_EQ(::recv(s, buf, sizeof buf, 0), 1316) << sender.log();
    EXPECT_TRUE(transportStream(std::string(buf, 1316), 0, 7));

    sender.stop();
    EXPECT_FALSE(sender.running());
    const timeval wait{0, 300000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    while (::recv(s, buf, sizeof buf, 0) > 0) {
    }  // what was on its way
    EXPECT_LT(::recv(s, buf, sizeof buf, 0), 0);  // and then nothing
    ::close(s);
}

}  // namespace
}  // namespace velmora::testing

// A camera's pictures encoded as they arrive: a thread of its own reads the
// input, encodes each picture to H.264 (fast enough for 1080p at 30 fps on
// one core, a key frame about every second, the rate capped at
// kFeedMaxBitrate) and multiplexes it into MPEG-TS, which read() hands out
// as a live stream of bytes.
//
// Between the thread and the reader lies a small pipe of fixed size.  While
// nobody reads and it runs full, pictures are read and left out rather than
// encoded, so that the input never falls behind and what is encoded
// afterwards is current.  When the input ends or fails, the stream ends:
// read() gives what is left, then 0; the input is closed by then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "playback/live_feed.h"

namespace velmora {

class LiveEncoder {
public:
    explicit LiveEncoder(CaptureInput input);
    // Stops the thread (as stop() does).
    ~LiveEncoder();
    LiveEncoder(const LiveEncoder&) = delete;
    LiveEncoder& operator=(const LiveEncoder&) = delete;

    // Opens the input and starts the thread; false, with error(), when the
    // input cannot be opened or holds no video.
    bool start();
    const std::string& error() const;

    // Up to `size` bytes of the stream; waits until there are some.  0 once
    // the stream has ended and everything was read; -1 after cancel().
    std::int64_t read(char* buffer, std::size_t size);
    // Makes a waiting read(), and every later one, return -1 (from any thread).
    void cancel();
    // Ends the thread and closes the input; returns once both are done.
    void stop();

    struct Figures {
        long long picturesRead = 0;
        long long picturesEncoded = 0;
        long long picturesLeftOut = 0;  // while the pipe was full
        long long bytesOut = 0;
    };
    Figures figures() const;

    // Encoder threads running in this process now.
    static int running();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace velmora

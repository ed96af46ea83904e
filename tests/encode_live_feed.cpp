// The live encoder on FFmpeg's generated test picture, raw and as MJPEG: MPEG-TS of
// H.264, a key frame a second, ending with the input; pictures left out while nobody
// reads; a waiting read given up; stop() while the input sends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "playback/live_encoder.h"
#include "support/files.h"

namespace velmora {
namespace {

using testing::run;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

// Warnings FFmpeg logs, from any thread.
std::atomic<int> gWarnings{0};
void countWarnings(void*, int level, const char*, va_list) {
    if (level <= AV_LOG_WARNING) ++gWarnings;
}

CaptureInput testPicture(const std::string& extra) { return {"lavfi", "testsrc2=size=320x240:rate=30" + extra, {}}; }

// Whether this process holds `path` open.
bool heldOpen(const std::string& path) {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        if (std::filesystem::read_symlink(fd.path(), ec) == path) return true;
    return false;
}

// Everything read until the stream ends (or `limit` bytes).
std::string readAllOf(LiveEncoder& encoder, std::size_t limit = 1 << 30) {
    std::string bytes;
    char block[4096];
    for (std::int64_t n; bytes.size() < limit && (n = encoder.read(block, sizeof block)) > 0;)
        bytes.append(block, static_cast<std::size_t>(n));
    return bytes;
}

TEST(LiveEncoder, RefusesInputsThatDoNotOpenEncodesRawAndMjpegWithAKeyFrameEverySecondAndEndsWithTheInput) {
    for (const CaptureInput& input : {CaptureInput{"video4linux2", "/dev/video-none", {}},
                                      CaptureInput{"no-such-format", "x", {}}, CaptureInput{"lavfi", "anullsrc", {}}}) {
        LiveEncoder encoder(input);
        EXPECT_FALSE(encoder.start()) << input.format;
        EXPECT_FALSE(encoder.error().empty()) << input.format;
    }
    TempDir dir("live-feed");
    // MJPEG as a camera sends it: full-range 4:2:2, which stays full range.
    const std::string mjpeg = (dir.path / "camera.mjpeg").string();
    ASSERT_EQ(run("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30:duration=2 -pix_fmt yuvj422p "
                  "-c:v mjpeg -f mjpeg '" + mjpeg + "' && echo ok"), "ok\n");
    for (const auto& [input, pixels] : {std::pair{testPicture(":duration=2"), "yuv420p"},
                                        std::pair{CaptureInput{"mjpeg", mjpeg, {{"framerate", "30"}}}, "yuvj420p"}}) {
        LiveEncoder encoder(input);
        gWarnings = 0;
        av_log_set_callback(&countWarnings);
        struct Restore {
            ~Restore() { av_log_set_callback(&av_log_default_callback); }
        } restore;
        ASSERT_TRUE(encoder.start()) << encoder.error();
        const std::string bytes = readAllOf(encoder);
        // A camera's stream logs no warning for every picture.
        EXPECT_LE(gWarnings.load(), 2) << input.format;
        // The stream ended by itself: the thread and the input are gone, later reads say so.
        char one;
        EXPECT_EQ(encoder.read(&one, 1), 0);
        EXPECT_EQ(LiveEncoder::running(), 0);
        EXPECT_FALSE(heldOpen(mjpeg));
        ASSERT_GT(bytes.size(), 188u * 10);
        EXPECT_EQ(bytes.size() % 188, 0u);
        for (std::size_t at = 0; at < bytes.size(); at += 188) ASSERT_EQ(bytes[at], 0x47) << at;
        const auto figures = encoder.figures();
        EXPECT_EQ(figures.picturesRead, 60);
        EXPECT_EQ(figures.picturesEncoded, 60);
        EXPECT_EQ(figures.picturesLeftOut, 0);
        EXPECT_EQ(figures.bytesOut, static_cast<long long>(bytes.size()));
        const std::string file = (dir.path / "feed.ts").string();
        testing::writeAll(file, bytes);
        EXPECT_EQ(run("ffprobe -v error -show_entries format=format_name:stream=codec_name,width,height,pix_fmt "
                      "-of csv=p=0 '" + file + "' | grep . | sort -u | tr '\\n' ' '"),
                  std::string("h264,320,240,") + pixels + " mpegts ");
        // One line per packet, in order: the key frames are pictures 0 and 30.
        EXPECT_EQ(run("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + file +
                      "' | grep . | grep -n K | cut -d: -f1 | tr '\\n' ' '"), "1 31 ");
    }
}

TEST(LiveEncoder, LeavesPicturesOutWhileNobodyReadsGivesUpAWaitingReadAndStopsPromptlyWhileTheInputSends) {
    LiveEncoder encoder(testPicture(""));  // as fast as it can be made, without end
    ASSERT_TRUE(encoder.start()) << encoder.error();
    EXPECT_EQ(LiveEncoder::running(), 1);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (encoder.figures().picturesLeftOut < 30 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto full = encoder.figures();
    ASSERT_GE(full.picturesLeftOut, 30);
    // Every picture read was encoded or left out, but the one in hand when looked at.
    EXPECT_GE(full.picturesRead, full.picturesEncoded + full.picturesLeftOut);
    EXPECT_LE(full.picturesRead, full.picturesEncoded + full.picturesLeftOut + 1);
    EXPECT_LE(full.bytesOut, 4 << 20);  // the pipe's size bounds what waits
    // Read again: encoding goes on, from current pictures.
    const std::string bytes = readAllOf(encoder, static_cast<std::size_t>(full.bytesOut) + (1 << 20));
    EXPECT_GT(encoder.figures().picturesEncoded, full.picturesEncoded);
    // Without a gap in time where pictures were left out: 1/30 s apart.
    TempDir dir("live-feed");
    testing::writeAll(dir.path / "feed.ts", bytes);
    EXPECT_EQ(run("ffprobe -v error -show_entries packet=pts -of csv=p=0 '" + (dir.path / "feed.ts").string() +
                  "' | grep . | awk -F, 'NR > 1 && $1 - p != 3000 { n++ } { p = $1 } END { print (NR > 100), n + 0 }'"),
              "1 0\n");
    // A read waiting on a picture a second is given up.
    LiveEncoder slow(testPicture(",fps=1,realtime"));
    ASSERT_TRUE(slow.start()) << slow.error();
    std::int64_t last = 1;
    std::thread reader([&] {
        char block[65536];
        while ((last = slow.read(block, sizeof block)) > 0) {
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    slow.cancel();
    reader.join();
    EXPECT_EQ(last, -1);
    slow.stop();
    const auto t0 = Clock::now();
    encoder.stop();
    // A hang check, not a speed measure: the thread waits on nothing.
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(LiveEncoder::running(), 0);
}

}  // namespace
}  // namespace velmora

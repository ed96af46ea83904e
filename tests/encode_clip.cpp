// The clip encoder on small generated frames, checked with ffprobe/ffmpeg:
// every frame is there for its duration in each format, and an export that
// is cancelled or cannot be written leaves no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "export/clip_encoder.h"
#include "support/files.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using testing::readAll;
using testing::run;
using testing::TempDir;

// Frame i is one solid colour of its own.  The fourth byte is padding, as
// the player leaves it: 0.
Pixel colourOf(std::size_t i) {
    static const Pixel colours[] = {0xc82864u, 0x20a0e0u, 0xf0f0f0u, 0x000000u, 0x60d040u};
    return colours[i % std::size(colours)];
}

ClipJob solidFrames(const fs::path& path, int w, int h, std::size_t n, int frameMs) {
    ClipJob job{path.string(), clipFormatOf(path.string()), w, h, frameMs, {}};
    for (std::size_t i = 0; i < n; ++i)
        job.frames.emplace_back(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), colourOf(i));
    return job;
}

std::string probe(const std::string& file) {
    return run(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,pix_fmt,nb_read_frames,width,height:format=duration -of csv=p=0 '" +
        file + "' | tr '\\n' ' '");
}

// The durations in ms of a WebP animation's frames (ANMF chunks: x, y,
// width-1, height-1 in 3 bytes each, then the duration).
std::vector<int> webpFrameDurations(const std::string& file) {
    const std::string data = readAll(file);
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(data[i]));
    };
    std::vector<int> durations;
    for (std::size_t at = 12; at + 8 <= data.size();) {
        const std::size_t size = byte(at + 4) | byte(at + 5) << 8 | byte(at + 6) << 16 | byte(at + 7) << 24;
        if (data.compare(at, 4, "ANMF") == 0 && at + 23 <= data.size())
            durations.push_back(static_cast<int>(byte(at + 20) | byte(at + 21) << 8 | byte(at + 22) << 16));
        at += 8 + size + (size & 1);
    }
    return durations;
}

TEST(ClipEncoder, EveryFrameStaysForItsDurationInEachFormat) {
    TempDir dir("encode");
    const ClipJob mp4 = solidFrames(dir.path / "clip.mp4", 97, 65, 7, 100);  // odd sizes are cropped
    const ClipJob gif = solidFrames(dir.path / "clip.GIF", 40, 30, 5, 60);
    const ClipJob webp = solidFrames(dir.path / "clip.webp", 40, 30, 4, 400);
    const std::string longest = std::string(255 - 4, 'n') + ".gif";  // the longest name a folder takes
    const ClipJob named = solidFrames(dir.path / longest, 40, 30, 2, 60);
    for (const ClipJob* job : {&mp4, &gif, &webp, &named}) {
        const ClipResult r = encodeClip(*job);
        EXPECT_EQ(r.status, ClipResult::Written) << job->path << ": " << r.reason;
    }
    EXPECT_EQ(probe(mp4.path), "h264,96,64,yuv420p,7 0.700000 ");
    EXPECT_EQ(probe(gif.path), "gif,40,30,bgra,5 0.300000 ");
    // Opaque frames stay separate frames: transparent ones would be merged.
    EXPECT_EQ(webpFrameDurations(webp.path), (std::vector<int>{400, 400, 400, 400}));

    // The dithered GIF colours average out to each frame's own.
    const std::string rgb = run("ffmpeg -v error -i '" + gif.path + "' -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), 5u * 40 * 30 * 3);
    for (std::size_t f = 0; f < 5; ++f)
        for (std::size_t c = 0; c < 3; ++c) {
            long sum = 0;
            for (std::size_t p = 0; p < 40 * 30; ++p)
                sum += static_cast<unsigned char>(rgb[(f * 40 * 30 + p) * 3 + c]);
            EXPECT_NEAR(sum / (40 * 30), static_cast<int>(colourOf(f) >> (16 - 8 * c) & 0xff), 6)
                << "frame " << f << " channel " << c;
        }
    // No temporary is left behind.
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"clip.GIF", "clip.mp4", "clip.webp", longest}));
}

TEST(ClipEncoder, CancelledOrUnwritableLeavesNoFileAndKeepsAnOldOne) {
    TempDir dir("encode");
    const fs::path target = dir.path / "clip.mp4";
    testing::writeAll(target, "an older clip");
    for (const int stopAt : {0, 3, 6}) {  // before the first frame, half-way, after the last
        const ClipResult r =
            encodeClip(solidFrames(target, 64, 48, 6, 100), [&](int done) { return done < stopAt; });
        EXPECT_EQ(r.status, ClipResult::Cancelled) << stopAt;
    }
    const ClipResult r =
        encodeClip(solidFrames(target / "clip.mp4", 64, 48, 3, 100));  // a "folder" that is a file
    EXPECT_EQ(r.status, ClipResult::Failed);
    EXPECT_NE(r.reason.find("Not a directory"), std::string::npos) << r.reason;

    EXPECT_EQ(dir.names(), std::vector<std::string>{"clip.mp4"});
    EXPECT_EQ(readAll(target), "an older clip");
}

}  // namespace
}  // namespace velmora

// The clip encoder on small generated frames, checked with ffprobe/ffmpeg:
// every frame is there for its duration in each format, and an export that
// is cancelled or cannot be written leaves no file.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/clip_encoder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buf;
        std::size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
        ::pclose(p);
    }
    return out;
}

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("velmora-encode-" + std::to_string(::getpid()));
    TempDir() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(path)) n.push_back(e.path().filename().string());
        return n;
    }
};

// Frame i is one solid colour of its own.  The fourth byte is padding, as
// the player leaves it: 0.
Pixel colourOf(std::size_t i) {
    static const Pixel colours[] = {0x00c82864u, 0x0020a0e0u, 0x00f0f0f0u, 0x00000000u, 0x0060d040u,
                                    0x00e0b000u, 0x003030c0u, 0x00808080u};
    return colours[i % std::size(colours)];
}

ClipJob solidFrames(const fs::path& path, int w, int h, std::size_t n, int frameMs) {
    ClipJob job;
    job.path = path.string();
    job.format = clipFormatOf(job.path);
    job.width = w;
    job.height = h;
    job.frameMs = frameMs;
    for (std::size_t i = 0; i < n; ++i)
        job.frames.emplace_back(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), colourOf(i));
    return job;
}

// "frames,width,height,duration" of the first video stream.
std::string probe(const fs::path& file) {
    const std::string out =
        run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames,width,height:format=duration -of csv=p=0:nk=1 '" +
            file.string() + "' | tr '\\n' ','");
    return out;
}

// The animation frames of a WebP file with their durations in ms.
std::vector<int> webpFrameDurations(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int> durations;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(data[i])); };
    for (std::size_t at = 12; at + 8 <= data.size();) {
        const std::string tag = data.substr(at, 4);
        const std::size_t size = byte(at + 4) | byte(at + 5) << 8 | byte(at + 6) << 16 | byte(at + 7) << 24;
        // ANMF: x, y, width-1, height-1 (3 bytes each), then the duration.
        if (tag == "ANMF" && at + 23 <= data.size())
            durations.push_back(static_cast<int>(byte(at + 20) | byte(at + 21) << 8 | byte(at + 22) << 16));
        at += 8 + size + (size & 1);
    }
    return durations;
}

TEST(ClipEncoder, EveryFrameStaysForItsDurationInEachFormat) {
    TempDir dir;
    {
        SCOPED_TRACE("mp4, odd size");
        const ClipJob job = solidFrames(dir.path / "clip.mp4", 97, 65, 7, 100);
        const ClipResult r = encodeClip(job);
        ASSERT_EQ(r.status, ClipResult::Written) << r.reason;
        EXPECT_EQ(probe(job.path), "96,64,7,0.700000,");
        EXPECT_EQ(run("ffprobe -v error -show_entries stream=codec_name,pix_fmt -of csv=p=0 '" + job.path + "'"),
                  "h264,yuv420p\n");
    }
    {
        SCOPED_TRACE("gif");
        const ClipJob job = solidFrames(dir.path / "clip.GIF", 40, 30, 5, 60);
        const ClipResult r = encodeClip(job);
        ASSERT_EQ(r.status, ClipResult::Written) << r.reason;
        EXPECT_EQ(probe(job.path), "40,30,5,0.300000,");
        // The dithered colours average out to the frame's own.
        const std::string rgb = run("ffmpeg -v error -i '" + job.path + "' -f rawvideo -pix_fmt rgb24 -");
        ASSERT_EQ(rgb.size(), 5u * 40 * 30 * 3);
        for (std::size_t f = 0; f < 5; ++f) {
            for (int c = 0; c < 3; ++c) {
                long sum = 0;
                for (std::size_t p = 0; p < 40 * 30; ++p)
                    sum += static_cast<unsigned char>(rgb[(f * 40 * 30 + p) * 3 + static_cast<std::size_t>(c)]);
                const int want = static_cast<int>(colourOf(f) >> (16 - 8 * c) & 0xff);
                EXPECT_NEAR(sum / (40 * 30), want, 6) << "frame " << f << " channel " << c;
            }
        }
    }
    {
        SCOPED_TRACE("webp");
        const ClipJob job = solidFrames(dir.path / "clip.webp", 40, 30, 4, 400);
        const ClipResult r = encodeClip(job);
        ASSERT_EQ(r.status, ClipResult::Written) << r.reason;
        EXPECT_EQ(webpFrameDurations(job.path), (std::vector<int>{400, 400, 400, 400}));
    }
    // Only the finished files: no temporary is left behind.
    std::vector<std::string> names = dir.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"clip.GIF", "clip.mp4", "clip.webp"}));
}

TEST(ClipEncoder, CancelledOrUnwritableLeavesNoFileAndKeepsAnOldOne) {
    TempDir dir;
    const fs::path target = dir.path / "clip.mp4";
    {
        std::ofstream(target) << "an older clip";
    }
    for (const int stopAt : {0, 3, 6}) {  // before the first frame, half-way, after the last
        SCOPED_TRACE("cancelled at " + std::to_string(stopAt));
        const ClipJob job = solidFrames(target, 64, 48, 6, 100);
        int calls = 0;
        const ClipResult r = encodeClip(job, [&](int done) {
            EXPECT_EQ(done, calls++);
            return done < stopAt;
        });
        EXPECT_EQ(r.status, ClipResult::Cancelled);
        EXPECT_EQ(dir.names(), std::vector<std::string>{"clip.mp4"});
        std::ifstream in(target);
        std::string kept;
        std::getline(in, kept);
        EXPECT_EQ(kept, "an older clip");
    }
    {
        SCOPED_TRACE("a folder that is a file");
        const ClipJob job = solidFrames(target / "clip.mp4", 64, 48, 3, 100);
        const ClipResult r = encodeClip(job);
        EXPECT_EQ(r.status, ClipResult::Failed);
        EXPECT_NE(r.reason.find("Not a directory"), std::string::npos) << r.reason;
    }
    {
        SCOPED_TRACE("nothing to export");
        const ClipResult r = encodeClip(solidFrames(dir.path / "empty.gif", 64, 48, 0, 100));
        EXPECT_EQ(r.status, ClipResult::Failed);
        EXPECT_FALSE(r.reason.empty());
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"clip.mp4"});
}

}  // namespace
}  // namespace velmora

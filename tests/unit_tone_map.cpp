// HDR light into the SDR picture: the per-pixel map against the curve, for
// greys and colours, with and without vectors.  (What the curve makes of PQ
// and HLG light, and that SDR is left alone, the player test sees on video.)
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "playback/tone_map.h"

namespace velmora {
namespace {

// mpv's 16-bit code for light of `nits` (kHdrSignalFilter).
std::uint16_t code(double nits) {
    return static_cast<std::uint16_t>(std::lround(65535 * std::pow(nits / 10000, 1 / 2.4)));
}

TEST(ToneMap, PixelsFollowTheCurveAndColoursKeepTheirProportions) {
    ToneMap map;
    map.follow(Transfer::kPq, 0);
    // Greys, then colours whose channels stand 1 : 1/4 : 1/16 in light.
    const double nits[] = {0.05, 2, 10, 100, 203, 1000, 4000, 10000};
    constexpr int kWidth = 8;
    std::size_t stride = 0;
    std::uint16_t* from = map.source(kWidth, 2, stride);
    ASSERT_NE(from, nullptr);
    ASSERT_GE(stride, kWidth * 8u);
    for (int x = 0; x < kWidth; ++x) {
        std::uint16_t* grey = from + 4 * x;
        std::uint16_t* colour =
            reinterpret_cast<std::uint16_t*>(reinterpret_cast<char*>(from) + stride) + 4 * x;
        grey[0] = grey[1] = grey[2] = code(nits[x]);
        colour[0] = code(nits[x]), colour[1] = code(nits[x] / 4), colour[2] = code(nits[x] / 16);
    }
    std::vector<std::uint32_t> to(2 * kWidth);
    map.map(reinterpret_cast<std::uint8_t*>(to.data()), kWidth * 4, kWidth, 2);
    for (int x = 0; x < kWidth; ++x) {
        SCOPED_TRACE(nits[x]);
        const std::uint32_t grey = to[x], colour = to[kWidth + x];
        const double level = 255 * map.level(nits[x]);
        for (int shift : {0, 8, 16}) EXPECT_NEAR(grey >> shift & 0xff, level, 1.0);
        EXPECT_EQ(grey >> 24, 0xffu);
        EXPECT_NEAR(colour >> 16 & 0xff, level, 1.0);  // red carries the brightest light
        if (level < 40) continue;                      // too few steps to hold a proportion
        const auto light = [](std::uint32_t v) { return std::pow(v / 255.0, 2.4); };
        EXPECT_NEAR(light(colour >> 8 & 0xff) / light(colour >> 16 & 0xff), 1 / 4.0, 0.025);
        EXPECT_NEAR(light(colour & 0xff) / light(colour >> 16 & 0xff), 1 / 16.0, 0.01);
    }

    // Vectors and plain code agree on every code, rows of any length.
    std::mt19937 random(7);
    constexpr int kLong = 1917;
    std::vector<std::uint16_t> codes(4 * kLong);
    for (auto& c : codes) c = static_cast<std::uint16_t>(random());
    std::vector<std::uint32_t> vectors(kLong), plain(kLong);
    map.map(codes.data(), 8 * kLong, reinterpret_cast<std::uint8_t*>(vectors.data()), 4 * kLong, kLong, 1);
    map.map(codes.data(), 8 * kLong, reinterpret_cast<std::uint8_t*>(plain.data()), 4 * kLong, kLong, 1,
            false);
    EXPECT_EQ(vectors, plain);
}

}  // namespace
}  // namespace velmora

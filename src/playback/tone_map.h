// HDR video (PQ and HLG) shown on an SDR screen.
//
// mpv's software renderer turns PQ and HLG into light itself, but it takes
// the signal's peak relative to reference white for a peak in nits, and it
// clips instead of tone mapping: everything above a few nits came out white.
// Told that the signal peaks at 10000 nits (kHdrSignalFilter), it draws
// light of L nits in BT.709 primaries, HLG with its system gamma at a
// nominal 1000 nits, as 16-bit codes (L / 10000)^(1/2.4).  ToneMap renders
// from those codes the 8-bit picture an SDR screen shows: light compressed
// by an extended Reinhard curve that keeps reference white (203 nits) well
// below full white and reaches it only at the video's peak, applied to the
// brightest of the three channels and the others scaled alike, so that
// colours keep their hue and saturation.  SDR video does not pass here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace velmora {

enum class Transfer { kStandard, kPq, kHlg };

// The transfer function mpv names in video-params/gamma: "pq", "hlg" or
// another (SDR) one.
Transfer transferNamed(std::string_view mpvName);

// The video filter that has mpv draw HDR light as ToneMap expects; it
// changes nothing for other video.
inline constexpr const char* kHdrSignalFilter = "format=sig-peak=10000";

class ToneMap {
public:
    // Follows the video's transfer function and the peak mpv reports for it
    // (relative to reference white: video-params/sig-peak); true when the
    // mapping changed.
    bool follow(Transfer transfer, double relativePeak);
    // Whether frames are drawn through the map.
    bool active() const { return transfer_ != Transfer::kStandard; }
    // The light the curve reaches full white at, in nits.
    double peakNits() const { return peakNits_; }

    // The screen level, 0..1 as an SDR video signal (BT.1886), of light of
    // `nits` in every channel.
    double level(double nits) const;

    // Memory for mpv to draw a `width` x `height` picture in ("rgba64"), and
    // its row stride in bytes; null when the memory cannot be had.
    std::uint16_t* source(int width, int height, std::size_t& stride);
    // The picture in source() mapped into 8-bit B, G, R, X pixels.
    void map(std::uint8_t* to, std::size_t stride, int width, int height) const;
    // The same for any picture in mpv's 16-bit codes; `vectors` = false keeps
    // to plain code where the CPU has 32-byte vectors.
    void map(const std::uint16_t* from, std::size_t fromStride, std::uint8_t* to, std::size_t stride,
             int width, int height, bool vectors = true) const;

private:
    Transfer transfer_ = Transfer::kStandard;
    double peakNits_ = 0;
    // Per 16 codes of a pixel's brightest channel: the factor that takes each
    // of its codes to its 8-bit screen value, in 1 / 2^20.
    std::vector<std::uint32_t> factor_;
    struct Free {
        void operator()(std::uint16_t* p) const;
    };
    std::unique_ptr<std::uint16_t[], Free> source_;
    std::size_t sourceBytes_ = 0;
};

}  // namespace velmora

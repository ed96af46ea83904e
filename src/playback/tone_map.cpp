#include "playback/tone_map.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELMORA_AVX2 1
#endif

namespace velmora {

namespace {

constexpr double kReferenceWhite = 203;  // nits: the white of graphics and of SDR within HDR
constexpr double kSignalPeak = 10000;    // nits of mpv's code 65535 (kHdrSignalFilter)
constexpr double kHlgPeak = 1000;        // nits: mpv renders HLG for a display of this peak
constexpr double kDisplayGamma = 2.4;    // of mpv's codes, and of the SDR screen (BT.1886)
// Where reference white is shown, as an SDR signal level: 204 of 255.
constexpr double kWhiteLevel = 0.8;
constexpr int kFactorShift = 20;
constexpr int kCodeShift = 4;  // one factor per 16 codes of the brightest channel

std::uint32_t mapPixel(const std::uint16_t* s, const std::uint32_t* factor) {
    const std::uint32_t r = s[0], g = s[1], b = s[2];
    const std::uint32_t f = factor[std::max({r, g, b}) >> kCodeShift];
    const auto channel = [f](std::uint32_t c) {
        return std::min<std::uint32_t>(255, (c * f + (1u << (kFactorShift - 1))) >> kFactorShift);
    };
    return 0xff000000u | channel(r) << 16 | channel(g) << 8 | channel(b);
}

void mapRow(const std::uint16_t* s, std::uint32_t* d, int width, const std::uint32_t* factor) {
    for (int x = 0; x < width; ++x) d[x] = mapPixel(s + 4 * x, factor);
}

#ifdef VELMORA_AVX2
__attribute__((target("avx2"))) inline __m256i screenValue(__m256i code, __m256i factor) {
    const __m256i rounded =
        _mm256_add_epi32(_mm256_mullo_epi32(code, factor), _mm256_set1_epi32(1 << (kFactorShift - 1)));
    return _mm256_min_epu32(_mm256_set1_epi32(255), _mm256_srli_epi32(rounded, kFactorShift));
}

// Eight pixels at a time: the channels apart, one factor per pixel.
__attribute__((target("avx2"))) void mapRowAvx2(const std::uint16_t* s, std::uint32_t* d, int width,
                                                const std::uint32_t* factor) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    // The unpacking leaves the pixels in the order 0 1 4 5 2 3 6 7.
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * x));
        const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * x + 16));
        const __m256i lo = _mm256_unpacklo_epi16(p0, p1), hi = _mm256_unpackhi_epi16(p0, p1);
        const __m256i rg = _mm256_unpacklo_epi16(lo, hi), ba = _mm256_unpackhi_epi16(lo, hi);
        const __m256i r = _mm256_unpacklo_epi16(rg, zero), g = _mm256_unpackhi_epi16(rg, zero);
        const __m256i b = _mm256_unpacklo_epi16(ba, zero);
        const __m256i brightest = _mm256_max_epu32(r, _mm256_max_epu32(g, b));
        const __m256i f = _mm256_i32gather_epi32(reinterpret_cast<const int*>(factor),
                                                 _mm256_srli_epi32(brightest, kCodeShift), 4);
        const __m256i out = _mm256_or_si256(_mm256_or_si256(opaque, screenValue(b, f)),
                                            _mm256_or_si256(_mm256_slli_epi32(screenValue(g, f), 8),
                                                            _mm256_slli_epi32(screenValue(r, f), 16)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_permutevar8x32_epi32(out, order));
    }
    mapRow(s + 4 * x, d + x, width - x, factor);
}
#endif

}  // namespace

Transfer transferNamed(std::string_view mpvName) {
    if (mpvName == "pq") return Transfer::kPq;
    if (mpvName == "hlg") return Transfer::kHlg;
    return Transfer::kStandard;
}

bool ToneMap::follow(Transfer transfer, double relativePeak) {
    double peak = 0;
    if (transfer == Transfer::kHlg) peak = kHlgPeak;
    // PQ reaches 10000 nits; a video mastered for less says so, though
    // rarely below 1000 nits for real.
    if (transfer == Transfer::kPq)
        peak =
            relativePeak > 0 ? std::clamp(relativePeak * kReferenceWhite, 1000.0, kSignalPeak) : kSignalPeak;
    if (transfer == transfer_ && peak == peakNits_) return false;
    transfer_ = transfer;
    peakNits_ = peak;
    factor_.clear();
    if (!active()) return true;
    // The brightest channel's light m sets the factor for all three: each
    // channel c becomes c * level(m) / m^(1/2.4) in the code's own terms.
    factor_.resize(65536 >> kCodeShift);
    for (std::size_t i = 0; i < factor_.size(); ++i) {
        const double code = (static_cast<double>(i << kCodeShift) + (1 << kCodeShift) / 2.0) / 65535.0;
        const double k = level(kSignalPeak * std::pow(code, kDisplayGamma)) / code;
        factor_[i] = static_cast<std::uint32_t>(std::lround(255.0 * k / 65535.0 * (1 << kFactorShift)));
    }
    return true;
}

double ToneMap::level(double nits) const {
    if (nits <= 0) return 0;
    // Extended Reinhard: x (1 + x / p^2) / (1 + x) reaches 1 at x = p; x is
    // light scaled so that reference white lands on kWhiteLevel.
    const double white = std::pow(kWhiteLevel, kDisplayGamma);
    const double top = std::max(peakNits_, 2 * kReferenceWhite) / kReferenceWhite;
    const double scale = (white - 1 / (top * top)) / (1 - white);
    const double x = scale * nits / kReferenceWhite, p = scale * top;
    return std::pow(std::min(1.0, x * (1 + x / (p * p)) / (1 + x)), 1 / kDisplayGamma);
}

void ToneMap::Free::operator()(std::uint16_t* p) const {
    std::free(p);
}

std::uint16_t* ToneMap::source(int width, int height, std::size_t& stride) {
    if (width <= 0 || height <= 0) return nullptr;
    stride = (static_cast<std::size_t>(width) * 8 + 63) / 64 * 64;
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    if (bytes > sourceBytes_) {
        source_.reset();
        sourceBytes_ = 0;
        source_.reset(static_cast<std::uint16_t*>(std::aligned_alloc(64, bytes)));
        if (!source_) return nullptr;
        sourceBytes_ = bytes;
    }
    return source_.get();
}

void ToneMap::map(std::uint8_t* to, std::size_t stride, int width, int height) const {
    if (!source_ || width <= 0 || height <= 0) return;
    const std::size_t from = (static_cast<std::size_t>(width) * 8 + 63) / 64 * 64;
    if (from * static_cast<std::size_t>(height) > sourceBytes_) return;
    map(source_.get(), from, to, stride, width, height);
}

void ToneMap::map(const std::uint16_t* from, std::size_t fromStride, std::uint8_t* to, std::size_t stride,
                  int width, int height, bool vectors) const {
    if (!active()) return;
    auto* row = &mapRow;
#ifdef VELMORA_AVX2
    if (vectors && __builtin_cpu_supports("avx2")) row = &mapRowAvx2;
#endif
    (void)vectors;
    for (int y = 0; y < height; ++y)
        row(reinterpret_cast<const std::uint16_t*>(reinterpret_cast<const std::uint8_t*>(from) +
                                                   y * fromStride),
            reinterpret_cast<std::uint32_t*>(to + y * stride), width, factor_.data());
}

}  // namespace velmora

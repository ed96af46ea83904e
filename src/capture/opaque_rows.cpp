#include "capture/opaque_rows.h"

#include <algorithm>
#include <cstring>
#include <limits>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {
namespace {

constexpr Pixel kOpaque = 0xff000000u;

// One pixel at a time, for the few before an aligned store and after the
// last whole vector.
inline void copyPixels(std::uint8_t* to, const std::uint8_t* from, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        Pixel p;
        std::memcpy(&p, from + 4 * i, 4);
        p |= kOpaque;
        std::memcpy(to + 4 * i, &p, 4);
    }
}

// Rows of `bytes` (a multiple of 4) each, `toStride` and `fromStride` bytes
// apart.  Rows of a tile are a few kilobytes: glibc's memcpy copies those with
// the CPU's string move, which cost a third more on AMD EPYC than plain vector
// loads and stores; with 16-byte vectors a small slot, which stays in the
// cache, took 1.1 to 1.15 times one memcpy of it there (32-byte: 0.99 to
// 1.05).  The OR that makes the pixels opaque costs nothing beside the loads
// and stores.
using CopyRows = void (*)(std::uint8_t* to, std::size_t toStride, const std::uint8_t* from, std::size_t fromStride,
                          std::size_t bytes, int rows);

#if defined(__x86_64__)
template <bool kStreamed>
__attribute__((target("avx2"), always_inline)) inline void put(std::uint8_t* to, __m256i v, __m256i opaque) {
    auto* t = reinterpret_cast<__m256i*>(to);
    if constexpr (kStreamed)
        _mm256_stream_si256(t, _mm256_or_si256(v, opaque));
    else
        _mm256_storeu_si256(t, _mm256_or_si256(v, opaque));
}

template <bool kStreamed>
__attribute__((target("avx2"))) void copyRowsAvx2(std::uint8_t* to, std::size_t toStride, const std::uint8_t* from,
                                                  std::size_t fromStride, std::size_t bytes, int rows) {
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(kOpaque));
    for (int y = 0; y < rows; ++y, to += toStride, from += fromStride) {
        std::size_t i = 0;
        if constexpr (kStreamed) {
            // Non-temporal stores go to aligned addresses.
            const std::size_t head = ((32 - reinterpret_cast<std::uintptr_t>(to) % 32) % 32) / 4 * 4;
            i = std::min(head, bytes);
            copyPixels(to, from, i / 4);
        }
        for (; i + 128 <= bytes; i += 128) {
            const auto* s = reinterpret_cast<const __m256i*>(from + i);
            const __m256i a = _mm256_loadu_si256(s), b = _mm256_loadu_si256(s + 1);
            const __m256i c = _mm256_loadu_si256(s + 2), d = _mm256_loadu_si256(s + 3);
            put<kStreamed>(to + i, a, opaque);
            put<kStreamed>(to + i + 32, b, opaque);
            put<kStreamed>(to + i + 64, c, opaque);
            put<kStreamed>(to + i + 96, d, opaque);
        }
        for (; i + 32 <= bytes; i += 32)
            put<kStreamed>(to + i, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i)), opaque);
        copyPixels(to + i, from + i, (bytes - i) / 4);
    }
}
#endif

#if defined(__SSE2__)
template <bool kStreamed>
inline void put(std::uint8_t* to, __m128i v, __m128i opaque) {
    auto* t = reinterpret_cast<__m128i*>(to);
    if constexpr (kStreamed)
        _mm_stream_si128(t, _mm_or_si128(v, opaque));
    else
        _mm_storeu_si128(t, _mm_or_si128(v, opaque));
}

template <bool kStreamed>
void copyRowsSse2(std::uint8_t* to, std::size_t toStride, const std::uint8_t* from, std::size_t fromStride,
                  std::size_t bytes, int rows) {
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
    for (int y = 0; y < rows; ++y, to += toStride, from += fromStride) {
        std::size_t i = 0;
        if constexpr (kStreamed) {
            const std::size_t head = ((16 - reinterpret_cast<std::uintptr_t>(to) % 16) % 16) / 4 * 4;
            i = std::min(head, bytes);
            copyPixels(to, from, i / 4);
        }
        for (; i + 64 <= bytes; i += 64) {
            const auto* s = reinterpret_cast<const __m128i*>(from + i);
            const __m128i a = _mm_loadu_si128(s), b = _mm_loadu_si128(s + 1);
            const __m128i c = _mm_loadu_si128(s + 2), d = _mm_loadu_si128(s + 3);
            put<kStreamed>(to + i, a, opaque);
            put<kStreamed>(to + i + 16, b, opaque);
            put<kStreamed>(to + i + 32, c, opaque);
            put<kStreamed>(to + i + 48, d, opaque);
        }
        for (; i + 16 <= bytes; i += 16)
            put<kStreamed>(to + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)), opaque);
        copyPixels(to + i, from + i, (bytes - i) / 4);
    }
}
#endif

#if !defined(__SSE2__)
void copyRowsPlain(std::uint8_t* to, std::size_t toStride, const std::uint8_t* from, std::size_t fromStride,
                   std::size_t bytes, int rows) {
    for (int y = 0; y < rows; ++y, to += toStride, from += fromStride) copyPixels(to, from, bytes / 4);
}
#endif

struct RowCopies {
    CopyRows cached, streamed;
};
const RowCopies kRowCopies = [] {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) return RowCopies{&copyRowsAvx2<false>, &copyRowsAvx2<true>};
#endif
#if defined(__SSE2__)
    return RowCopies{&copyRowsSse2<false>, &copyRowsSse2<true>};
#else
    return RowCopies{&copyRowsPlain, &copyRowsPlain};
#endif
}();

}  // namespace

void copyOpaqueRows(Pixel* to, std::size_t toStride, const std::uint8_t* from, std::size_t fromStride, int width,
                    int rows, SlotStores stores) {
    if (width <= 0 || rows <= 0) return;
    const CopyRows copyRows = stores == SlotStores::Streamed ? kRowCopies.streamed : kRowCopies.cached;
    const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(Pixel);
    auto* target = reinterpret_cast<std::uint8_t*>(to);
    if (fromStride == bytes && toStride == static_cast<std::size_t>(width))
        copyRows(target, 0, from, 0, bytes * static_cast<std::size_t>(rows), 1);  // back to back: one row
    else
        copyRows(target, toStride * sizeof(Pixel), from, fromStride, bytes, rows);
#if defined(__SSE2__)
    // The streamed stores are seen before anything written after them.
    if (stores == SlotStores::Streamed) _mm_sfence();
#endif
}

SlotStores SlotStoreChoice::next(std::size_t bytes) {
    if (bytes != bytes_) {
        bytes_ = bytes;
        captures_ = 0;
        kept_ = SlotStores::Cached;
    }
    const int trial = captures_ - kWarmCaptures;
    if (trial == 0) best_.fill(std::numeric_limits<double>::infinity());
    current_ = trial >= 0 && !chosen() ? static_cast<SlotStores>(trial % kSlotStoreKinds) : kept_;
    return current_;
}

void SlotStoreChoice::took(double microseconds) {
    if (chosen()) return;
    if (captures_ >= kWarmCaptures) {
        double& best = best_[static_cast<std::size_t>(current_)];
        best = std::min(best, microseconds);
    }
    if (++captures_ == kWarmCaptures + kTrialsEach * kSlotStoreKinds)
        kept_ = static_cast<SlotStores>(std::min_element(best_.begin(), best_.end()) - best_.begin());
}

}  // namespace velmora

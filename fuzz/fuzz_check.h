// What every fuzz target here needs: a check that stops the run with a
// readable reason, the description of the program's error a call raises, and
// a reading of UTF-8 of its own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace velmora::fuzzing {

inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The description of the error `f` raises, "" when it raises none.
template <typename F>
std::string raised(F&& f) {
    try {
        f();
    } catch (const AppError& e) {
        return e.description();
    }
    return "";
}

// The characters of a text that is UTF-8 as the standard defines it (no
// overlong forms, no surrogates, nothing past U+10FFFF, nothing cut short);
// nothing for any other text.  Written here rather than taken from the
// program, so that a reference cannot share a fault with what it checks.
inline std::optional<std::vector<char32_t>> decodeUtf8(std::string_view s) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return std::nullopt;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (t & 0x3F);
        }
        constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        out.push_back(c);
        i += n;
    }
    return out;
}

}  // namespace velmora::fuzzing

#include "base/convert.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/errors.h"

namespace velmora {

double roundHalfEven(double x) { return std::nearbyint(x); }  // default rounding mode: to nearest even

namespace {

template <typename T>
T checkedRound(double x, SourceLocation where) {
    const double r = roundHalfEven(x);
    if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
          r <= static_cast<double>(std::numeric_limits<T>::max())))
        raiseError(kErrOverflow, where);
    return static_cast<T>(r);
}

// Whether a decimal number that a double cannot hold is too large (rather
// than too small): the power of ten of its first significant digit.
bool beyondLargest(std::string_view s) {
    const auto e = s.find_first_of("eE");
    const std::string_view mantissa = s.substr(0, e);
    std::int64_t exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = s.substr(e + 1);
        const bool negative = !digits.empty() && digits.front() == '-';
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
        for (char c : digits) exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), 1'000'000'000);
        if (negative) exponent = -exponent;
    }
    const auto point = std::min(mantissa.find('.'), mantissa.size());
    const auto first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return false;
    const std::int64_t power = first < point ? static_cast<std::int64_t>(point - first - 1)
                                             : -static_cast<std::int64_t>(first - point);
    return power + exponent > 0;
}

// Parses the whole text as a decimal number; false when it is not one.
bool parseNumber(std::string_view text, double& out) {
    std::string_view s = trimBlanks(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    // Digits or a decimal point must come first: no "inf", "nan" or hex.
    if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s.front())) || s.front() == '.')) return false;
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (end != s.data() + s.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        // Too large for a double: still a number, but one that overflows;
        // too small: zero.
        v = beyondLargest(s) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        return false;
    }
    out = negative ? -v : v;
    return true;
}

}  // namespace

std::string_view trimBlanks(std::string_view s) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::int16_t toInt16(double x, SourceLocation where) { return checkedRound<std::int16_t>(x, where); }
std::int32_t toInt32(double x, SourceLocation where) { return checkedRound<std::int32_t>(x, where); }

std::int32_t mul32(std::int64_t a, std::int64_t b, SourceLocation where) {
    const std::int64_t r = a * b;  // operands are 32-bit values: no 64-bit overflow
    if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
        raiseError(kErrOverflow, where);
    return static_cast<std::int32_t>(r);
}

std::int32_t add32(std::int64_t a, std::int64_t b, SourceLocation where) {
    const std::int64_t r = a + b;
    if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
        raiseError(kErrOverflow, where);
    return static_cast<std::int32_t>(r);
}

bool isNumeric(std::string_view text) {
    double v;
    return parseNumber(text, v);
}

double toDouble(std::string_view text, SourceLocation where) {
    double v = 0;
    if (!parseNumber(text, v)) raiseError(kErrTypeMismatch, where);
    if (!std::isfinite(v)) raiseError(kErrOverflow, where);
    return v;
}

float toSingle(std::string_view text, SourceLocation where) {
    const double v = toDouble(text, where);
    if (std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) raiseError(kErrOverflow, where);
    return static_cast<float>(v);
}

std::string singleToText(float value) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc()) return "0";
    return std::string(buf, end);
}

std::string formatGeneral(double value, std::string_view decimalSeparator) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string s(buf);
    if (s == "-0") s = "0";
    // snprintf writes the C library's current separator; put the user's in its place.
    const auto sep = s.find_first_not_of("0123456789+-e");
    if (sep != std::string::npos) s.replace(sep, 1, decimalSeparator);
    return s;
}

std::string reviewTimeCaption(std::int32_t perFrameMs, long age, std::string_view decimalSeparator) {
    const double s = -static_cast<double>(mul32(perFrameMs, age)) / 1000.0;
    const std::string text = formatGeneral(s, decimalSeparator);
    // Four characters, not bytes: a separator such as U+066B takes two or
    // more bytes and must not be cut in half.
    size_t end = 0;
    for (int chars = 0; end < text.size() && chars < 4; ++chars) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end) + " sec";
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace velmora

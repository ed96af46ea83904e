// The mail link's percent-encoding on arbitrary input: it keeps the link
// whole, decodes back to the text, and raises "Overflow" past 32767
// characters.  (Unscrambling only ever reads the program's own disclaimer,
// which the About box test reads back.)
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "base/errors.h"
#include "support/mail_composer.h"

using namespace velmora;
using fuzzing::check;
using fuzzing::decodeUtf8;
using fuzzing::raised;

namespace {

// Windows-1252, written out here independently of the program's table: the
// characters of codes 0x80..0x9F; the five unassigned codes stand for the
// control character of the same number.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t charOf(unsigned code) { return code >= 0x80 && code < 0xA0 ? kHigh[code - 0x80] : code; }

std::optional<unsigned> codeOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return static_cast<unsigned>(c);
    for (unsigned code = 0x80; code < 0xA0; ++code)
        if (charOf(code) == c) return code;
    return std::nullopt;
}

// UTF-8 of the characters, written here rather than taken from the program's
// appendUtf8, for the same reason as decodeUtf8.
std::string encode(const std::vector<char32_t>& chars) {
    std::string out;
    for (char32_t c : chars) {
        const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;  // bytes; a lead of n ones
        out += static_cast<char>(n == 1 ? c : (0xF00 >> n) | (c >> 6 * (n - 1)));
        for (int k = n - 2; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> 6 * k) & 0x3F));
    }
    return out;
}

int hexDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }

bool escapeAt(const std::string& s, std::size_t i) {
    return s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0;
}

void urlEncode(std::string_view text) {
    std::string out;
    const std::string error = raised([&] { out = UrlEncode(text); });
    const auto chars = decodeUtf8(text);
    if (chars) {
        check(chars->size() > 32767 ? error == kErrOverflow : error.empty(),
              "UrlEncode raises Overflow for the wrong lengths");
    } else {
        check(error.empty() || (error == kErrOverflow && text.size() > 32767), "UrlEncode raised on a short text");
    }
    if (!error.empty()) return;

    // The link stays one line of printable ASCII that no "&" or "#" cuts.
    std::size_t strayPercents = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        check(out[i] >= ' ' && out[i] <= '~', "UrlEncode wrote a character that is not printable ASCII");
        check(out[i] != '&' && out[i] != '#', "UrlEncode left a raw \"&\" or \"#\"");
        if (out[i] == '%' && !escapeAt(out, i)) ++strayPercents;
    }
    std::size_t inputPercents = 0;
    for (char c : text) inputPercents += c == '%';
    check(strayPercents <= inputPercents, "UrlEncode wrote a \"%\" without two capital hex digits");
    if (!chars) return;

    // Read the output back character by character: each character is either
    // itself or the escape of its Windows-1252 code ("?" when it has none).
    std::size_t at = 0;
    for (char32_t c : *chars) {
        check(at < out.size(), "UrlEncode dropped characters");
        if (c >= ' ' && c <= '~' && c != '&' && c != '#') {
            check(out[at] == static_cast<char>(c), "UrlEncode changed a printable character");
            ++at;
            continue;
        }
        check(escapeAt(out, at), "UrlEncode did not escape a character");
        const unsigned code = hexDigit(out[at + 1]) * 16 + hexDigit(out[at + 2]);
        check(charOf(code) == (codeOf(c) ? c : U'?'), "an escape does not decode to its character");
        at += 3;
    }
    check(at == out.size(), "UrlEncode wrote more than the text");
}

// The text repeated to exactly `length` characters (a well-formed text only).
std::optional<std::string> repeated(std::string_view text, std::size_t length) {
    const auto chars = decodeUtf8(text);
    if (!chars || chars->empty()) return std::nullopt;
    std::vector<char32_t> out;
    out.reserve(length);
    while (out.size() < length) out.push_back((*chars)[out.size() % chars->size()]);
    return encode(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    // Bit 2 of the first byte asks for a text right around the 32767-character limit.
    std::string text(rest);
    if (data[0] & 4) {
        const auto longText = repeated(rest, 32760 + data[1] % 16);
        if (!longText) return 0;
        text = *longText;
    }
    urlEncode(text);
    return 0;
}

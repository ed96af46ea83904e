#include "support/mail_composer.h"

#include <array>
#include <cstdint>

#include "support/app_info.h"
#include "base/convert.h"
#include "support/desktop_port.h"
#include "base/errors.h"

namespace velmora {

namespace {

// The author's address, only ever held scrambled.
constexpr std::string_view kScrambledAuthor = "zjoqtue2eylvD{hprrvf1swjC";

// Windows-1252 codes 0x80..0x9F. The five codes without a character map to the
// control character of the same number, as the desktop's conversion does.
constexpr std::array<char32_t, 32> kHighCodes = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes the next character of a UTF-8 text; a malformed sequence counts as
// one character without a code (U+FFFD).
char32_t nextChar(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, c = b0 & 0x1F, least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, c = b0 & 0x0F, least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, c = b0 & 0x07, least = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    std::size_t i = pos + 1;
    for (int k = 0; k < extra; ++k, ++i) {
        if (i >= s.size() || (byte(i) & 0xC0) != 0x80) {
            pos = i;
            return 0xFFFD;
        }
        c = (c << 6) | (byte(i) & 0x3F);
    }
    pos = i;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    return c;
}

// The Windows-1252 code of one character (that of "?" when it has none), and back.
unsigned char ansiCode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (std::size_t i = 0; i < kHighCodes.size(); ++i)
        if (kHighCodes[i] == c) return static_cast<unsigned char>(0x80 + i);
    return '?';
}

char32_t ansiChar(unsigned char code) {
    return code >= 0x80 && code <= 0x9F ? kHighCodes[code - 0x80] : char32_t{code};
}

// Calls f(position, character) for each character; positions count in 16 bits.
template <typename F>
void forEachChar(std::string_view utf8, F&& f) {
    std::int16_t position = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        position = toInt16(static_cast<double>(position) + 1);
        f(position, nextChar(utf8, pos));
    }
}

}  // namespace

std::string GetVersionText() {
    return std::string(kAppTitle) + " v" + versionNumber();
}

std::string UrlEncode(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    forEachChar(utf8, [&](std::int16_t, char32_t c) {
        // "#" would start the link's fragment and cut off everything after it.
        if (c >= U' ' && c <= U'~' && c != U'&' && c != U'#') {
            out += static_cast<char>(c);
        } else {
            const unsigned char code = ansiCode(c);
            out += '%';
            out += kHex[code >> 4];
            out += kHex[code & 0x0F];
        }
    });
    return out;
}

std::string UnscrambleText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    forEachChar(utf8, [&](std::int16_t i, char32_t c) {
        const int code = ansiCode(c) - 3 - i % 3;
        if (code < 0) RAISE_ERROR(kErrInvalidCall);
        appendUtf8(out, ansiChar(static_cast<unsigned char>(code)));
    });
    return out;
}

std::string authorAddress() { return UnscrambleText(kScrambledAuthor); }

void SendMail(DesktopPort& desktop, const std::string& subject, std::string body) {
    std::string address, encodedSubject, encodedBody, link;
    resumeNext([&] { address = authorAddress(); });
    resumeNext([&] { encodedSubject = UrlEncode(subject); });
    resumeNext([&] { encodedBody = UrlEncode(body); });
    resumeNext([&] { link = "mailto:" + address + "&Subject=" + encodedSubject + "&Body=" + encodedBody; });
    resumeNext([&] { desktop.openExternal(link); });
}

}  // namespace velmora

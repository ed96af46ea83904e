// The mail composer's texts: version, percent-encoding, the scrambled address.
#include <gtest/gtest.h>

#include "support/errors.h"
#include "support/mail_composer.h"

namespace velmora {
namespace {

TEST(Mail, UrlEncodeKeepsPrintableAsciiAndEncodesTheRestInTheCodePage) {
    EXPECT_EQ(GetVersionText(), "Velmora v1.0.0");
    EXPECT_EQ(UrlEncode(""), "");
    EXPECT_EQ(UrlEncode("a&b"), "a%26b");
    EXPECT_EQ(UrlEncode("one\r\ntwo"), "one%0D%0Atwo");
    // The blank, "%", "+", "?" and "=" go into the link unchanged; "#" would cut it off.
    EXPECT_EQ(UrlEncode("50% + x?=y #3"), "50% + x?=y %233");
    EXPECT_EQ(UrlEncode("\t\x7f"), "%09%7F");
    // Per character, not per byte: "é" is one character, E9 in Windows-1252.
    EXPECT_EQ(UrlEncode("caf\u00e9"), "caf%E9");
    EXPECT_EQ(UrlEncode("\u20ac \u0178"), "%80 %9F");  // Windows-1252's own 0x80..0x9F
    // Outside the code page: "?" for a letter, a CJK character, an emoji, a stray byte.
    EXPECT_EQ(UrlEncode("\u0101\u4e2d\U0001F600\xff"), "%3F%3F%3F%3F");
}

TEST(Mail, TextsOfMoreThan32767CharactersOverflow) {
    EXPECT_EQ(UrlEncode(std::string(32767, 'x')).size(), 32767u);
    // Characters count, not bytes: 32767 two-byte characters are fine.
    std::string accented;
    for (int i = 0; i < 32767; ++i) accented += "\u00e9";
    EXPECT_EQ(UrlEncode(accented).size(), 3u * 32767);
    try {
        UrlEncode(std::string(32768, 'x'));
        FAIL() << "no overflow";
    } catch (const AppError& e) {
        EXPECT_EQ(e.description(), kErrOverflow);
    }
    EXPECT_THROW(UnscrambleText(std::string(32768, 'x')), AppError);
}

// The stored form: at position i (from 1) the code grows by 3 + i mod 3.
// (Only for texts whose stored form avoids the codes 0x80..0x9F.)
std::string scramble(const std::u32string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i] + 3 + (i + 1) % 3;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {  // Latin-1 range only, two UTF-8 bytes
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

TEST(Mail, UnscramblingTheScrambledFormGivesTheTextBack) {
    EXPECT_EQ(UnscrambleText(""), "");
    EXPECT_EQ(UnscrambleText(scramble(U"velmora-bugs@example.org?")), "velmora-bugs@example.org?");
    EXPECT_EQ(UnscrambleText(scramble(U"\u00b0\u00f5 Zz")), "\u00b0\u00f5 Zz");
    // Codes work in Windows-1252: "\u20ac" is 0x80, "\u201a" is 0x82 and U+0081 keeps 0x81.
    EXPECT_EQ(UnscrambleText("\u20ac\u201a\u0081"), "|}~");
    EXPECT_EQ(UnscrambleText("\u0101"), ";");  // no code of its own: "?" less 4
    // A code below 0: position 2 takes 5 away from code 4.
    EXPECT_THROW(UnscrambleText("a\x04"), AppError);
}

}  // namespace
}  // namespace velmora

#include "settings/settings_encoding.h"

#include "settings/ini_file.h"
#include "base/convert.h"

namespace velmora {

namespace {

// UTF-16 code units to UTF-8. A lone surrogate becomes its own three-byte
// sequence, so that even a damaged file is written back as it was.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            const char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, u);
    }
    return out;
}

// UTF-8 to UTF-16 code units; a byte that is not part of a UTF-8 sequence
// in its shortest form stands for the character of that value.
std::string utf8ToUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&](char32_t u) {
        const auto hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = b;
        bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
        if (valid && length > 1) {
            c = b & (0x7F >> length);
            for (int k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
                valid = valid && (next & 0xC0) == 0x80;
                c = (c << 6) | (next & 0x3F);
            }
            // The shortest form only: C0 8A is not a line break (it would
            // become one in the file and split the line it is written on).
            static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = valid && c >= kLeast[length] && c <= 0x10FFFF;
        }
        if (!valid) {
            put(b);
            ++i;
            continue;
        }
        i += static_cast<size_t>(length);
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

}  // namespace

SettingsText decodeSettings(std::string_view bytes) {
    SettingsText t;
    const auto startsWith = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (startsWith("\xEF\xBB\xBF")) {
        t.encoding = SettingsEncoding::Utf8Bom;
        t.text = bytes.substr(3);
    } else if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF")) {
        const bool bigEndian = bytes[0] == '\xFE';
        t.encoding = bigEndian ? SettingsEncoding::Utf16Be : SettingsEncoding::Utf16Le;
        const auto body = bytes.substr(2);
        t.text = utf16ToUtf8(body, bigEndian);
        if (body.size() % 2) t.strayByte = body.back();
    } else {
        t.text = bytes;
    }
    return t;
}

std::string encodeSettings(const SettingsText& file, std::string_view text) {
    switch (file.encoding) {
        case SettingsEncoding::Plain: return std::string(text);
        case SettingsEncoding::Utf8Bom: return "\xEF\xBB\xBF" + std::string(text);
        case SettingsEncoding::Utf16Le: return "\xFF\xFE" + utf8ToUtf16(text, false) + file.strayByte;
        case SettingsEncoding::Utf16Be: return "\xFE\xFF" + utf8ToUtf16(text, true) + file.strayByte;
    }
    return std::string(text);
}

std::string withSetting(std::string_view bytes, std::string_view section, std::string_view key,
                        std::string_view value) {
    const SettingsText file = decodeSettings(bytes);
    IniFile ini(file.text);
    ini.set(section, key, value);
    return encodeSettings(file, ini.text());
}

}  // namespace velmora

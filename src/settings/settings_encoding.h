// A settings file's bytes as the UTF-8 text the INI reader works on, and that
// text back in the file's own encoding.
//
// Settings files come as UTF-8 (with or without a byte-order mark) or, from
// editors that save "Unicode", as UTF-16 with a byte-order mark. The line
// ends are the lines' own (IniFile keeps them), and a damaged UTF-16 file (a
// lone surrogate, an odd last byte) is written back as it was.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

enum class SettingsEncoding { Plain, Utf8Bom, Utf16Le, Utf16Be };

struct SettingsText {
    SettingsEncoding encoding = SettingsEncoding::Plain;
    std::string text;       // as UTF-8
    std::string strayByte;  // a UTF-16 file's odd last byte, kept as it was
};

SettingsText decodeSettings(std::string_view bytes);

// `text` (UTF-8) in the encoding of the file `file` was read from.
std::string encodeSettings(const SettingsText& file, std::string_view text);

// The file `bytes` with `key` in `section` set to `value`, in the file's own
// encoding; every other line as it was. Raises what IniFile::set raises.
std::string withSetting(std::string_view bytes, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace velmora

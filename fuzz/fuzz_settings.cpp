// Settings files as they are found: plain, UTF-8 with a byte-order mark, and
// UTF-16 (either byte order). The input's first byte picks the encoding and
// how the rest becomes the file (see makeFile); then comes the edit
// ("key<TAB>value" and a line break) and then the file's content. Every file,
// damaged or not, must be written back byte for byte when read and written
// unchanged. After storing the key, the file must keep its byte-order mark,
// its odd last byte, every line but the key's own (in its own encoding, line
// end included), give new lines the line end of its first line, and read the
// new value back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "settings/ini_file.h"
#include "settings/settings_encoding.h"
#include "support/app_info.h"
#include "base/errors.h"

using namespace velmora;
using fuzzing::check;
using fuzzing::raised;

namespace {

struct Layout {
    std::string_view bom;
    size_t unit = 1;         // bytes per code unit
    bool bigEndian = false;
};

void putUnit(std::string& out, char16_t u, bool bigEndian) {
    const auto hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
}

// The file for `mode` from `source`: 0 and 1 take the bytes as they come as a
// UTF-16 LE or BE body (so anything: lone surrogates, an odd last byte); 2
// and 3 widen each byte to one UTF-16 LE or BE unit, bytes D8 to DF to the
// surrogates D800 to DF00, plus an odd last byte when `stray`; 4 is UTF-8
// with a byte-order mark, 5 the bytes as they come, without one.
std::string makeFile(int mode, bool stray, std::string_view source, Layout& layout) {
    layout.unit = mode < 4 ? 2 : 1;
    layout.bigEndian = mode == 1 || mode == 3;
    layout.bom = mode == 5 ? "" : mode == 4 ? "\xEF\xBB\xBF" : layout.bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    std::string file(layout.bom);
    if (mode == 2 || mode == 3) {
        for (const char c : source) {
            const auto b = static_cast<unsigned char>(c);
            putUnit(file, static_cast<char16_t>(b >= 0xD8 && b <= 0xDF ? b << 8 : b), layout.bigEndian);
        }
        if (stray) file += '!';
    } else {
        file += source;
    }
    return file;
}

struct Line {
    std::string_view bytes;  // with a carriage return that ends it, without the line feed
    bool carriageReturn;
};

// The lines of a file's body (no byte-order mark, no odd last byte), split at
// the line-feed code unit.
std::vector<Line> unitLines(std::string_view body, const Layout& layout) {
    const auto isUnit = [&](size_t at, char ascii) {
        if (layout.unit == 1) return body[at] == ascii;
        const char first = layout.bigEndian ? '\0' : ascii, second = layout.bigEndian ? ascii : '\0';
        return body[at] == first && body[at + 1] == second;
    };
    std::vector<Line> lines;
    size_t start = 0;
    for (size_t at = 0; at <= body.size(); at += layout.unit) {
        if (at < body.size() && !isUnit(at, '\n')) continue;
        if (at == start && at == body.size()) break;
        const std::string_view line = body.substr(start, at - start);
        lines.push_back({line, at > start && isUnit(at - layout.unit, '\r')});
        start = at + layout.unit;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const int mode = data[0] % 6;
    const bool stray = (data[0] / 6) % 2;
    const size_t firstBreak = input.find('\n');
    if (firstBreak == std::string_view::npos) return 0;
    const std::string_view edit = input.substr(0, firstBreak);
    const size_t tab = edit.find('\t');
    if (tab == std::string_view::npos) return 0;
    const std::string key(edit.substr(0, tab));
    const std::string value(edit.substr(tab + 1));
    Layout layout;
    const std::string file = makeFile(mode, stray, input.substr(firstBreak + 1), layout);

    // Read and written unchanged, any file is kept byte for byte.
    const SettingsText decoded = decodeSettings(file);
    if (mode == 5 && decoded.encoding != SettingsEncoding::Plain) return 0;  // it starts with a mark
    check((decoded.encoding == SettingsEncoding::Plain) == (mode == 5), "the byte-order mark was misread");
    check(encodeSettings(decoded, decoded.text) == file, "an unchanged file is not written back as it was");

    std::string written;
    const std::string refusal = raised([&] { written = withSetting(file, kAppTitle, key, value); });
    if (!refusal.empty()) {
        // Only names and values that do not fit on one line are refused, in any file.
        check(refusal == kErrInvalidCall, "the edit raised another error");
        check(raised([&] { IniFile().set(kAppTitle, key, value); }) == kErrInvalidCall,
              "an edit was refused for the file's sake");
        return 0;
    }

    check(written.substr(0, layout.bom.size()) == layout.bom, "the byte-order mark changed");
    const size_t oldBody = file.size() - layout.bom.size(), newBody = written.size() - layout.bom.size();
    check(oldBody % layout.unit == newBody % layout.unit, "the odd last byte was lost or added");
    if (oldBody % layout.unit) check(written.back() == file.back(), "the odd last byte changed");

    // UTF-16 cannot hold bytes that are not UTF-8; anything else reads back.
    if (layout.unit == 1 || (fuzzing::decodeUtf8(key) && fuzzing::decodeUtf8(value))) {
        const IniFile reread(decodeSettings(written).text);
        check(reread.get(kAppTitle, key) == value, "the stored value does not read back");
    }

    // Old lines appear in the new file in order, line ends and all; at most
    // one of them (the key's line) is changed, and at most three lines are new.
    const auto bodyOf = [&](std::string_view f, size_t length) {
        return f.substr(layout.bom.size(), length - length % layout.unit);
    };
    const auto oldLines = unitLines(bodyOf(file, oldBody), layout);
    const auto newLines = unitLines(bodyOf(written, newBody), layout);
    size_t head = 0;
    while (head < oldLines.size() && head < newLines.size() && oldLines[head].bytes == newLines[head].bytes) ++head;
    size_t tail = 0;
    while (tail < oldLines.size() - head && tail < newLines.size() - head &&
           oldLines[oldLines.size() - 1 - tail].bytes == newLines[newLines.size() - 1 - tail].bytes)
        ++tail;
    const size_t oldChanged = oldLines.size() - head - tail;
    const size_t newChanged = newLines.size() - head - tail;
    check(oldChanged <= 1, "lines other than the key's own changed");
    check(newChanged >= oldChanged && newChanged - oldChanged <= 3, "lines were lost or too many added");
    // The key's line keeps its line end; new lines end as the first line does.
    const bool crlf = !oldLines.empty() && oldLines.front().carriageReturn;
    for (size_t i = head; i < head + newChanged; ++i) {
        const bool expected = oldChanged == 1 ? oldLines[head].carriageReturn : crlf;
        check(newLines[i].carriageReturn == expected, "a written line has the wrong line end");
    }
    return 0;
}

// Settings file reader/writer on arbitrary files.  The input's first line is
// the edit ("key<TAB>value"), the rest is the file as found on disk.  After
// storing the key, the file read back must give the new value, and every
// line of the old file that was not the key's own line must be in the new
// file byte for byte, in the same order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"
#include "support/app_info.h"
#include "fuzz_check.h"
#include "support/errors.h"

using namespace velmora;
using fuzzing::check;

namespace {

// The lines of a file as stored, each with whatever ends it but the '\n'.
std::vector<std::string_view> rawLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t firstBreak = input.find('\n');
    if (firstBreak == std::string_view::npos) return 0;
    const std::string_view edit = input.substr(0, firstBreak);
    const std::string_view file = input.substr(firstBreak + 1);
    const size_t tab = edit.find('\t');
    if (tab == std::string_view::npos) return 0;
    const std::string key(edit.substr(0, tab));
    const std::string value(edit.substr(tab + 1));

    IniFile ini(file);
    const std::string before = ini.text();
    try {
        ini.set(kAppTitle, key, value);
    } catch (const AppError& e) {
        check(e.description() == kErrInvalidCall, "set raised another error");
        check(ini.text() == before, "a refused set changed the file");
        return 0;
    }
    const std::string written = ini.text();
    const IniFile reread(written);
    check(reread.get(kAppTitle, key) == value, "the stored value does not read back");

    // Old lines appear in the new file in order; at most one of them (the
    // key's line) is changed, and at most three lines are new.
    const auto oldLines = rawLines(file);
    const auto newLines = rawLines(written);
    size_t head = 0;
    while (head < oldLines.size() && head < newLines.size() && oldLines[head] == newLines[head]) ++head;
    size_t tail = 0;
    while (tail < oldLines.size() - head && tail < newLines.size() - head &&
           oldLines[oldLines.size() - 1 - tail] == newLines[newLines.size() - 1 - tail])
        ++tail;
    const size_t oldChanged = oldLines.size() - head - tail;
    const size_t newChanged = newLines.size() - head - tail;
    check(oldChanged <= 1, "lines other than the key's own changed");
    check(newChanged >= oldChanged && newChanged - oldChanged <= 3, "lines were lost or too many added");
    return 0;
}

#include "settings/ini_file.h"

#include "base/convert.h"
#include "base/errors.h"

#include <algorithm>

namespace velmora {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The name of a "[name]" line; text after the ']' is ignored.
std::optional<std::string_view> sectionName(std::string_view line) {
    const auto t = trimBlanks(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const auto close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trimBlanks(t.substr(1, close - 1));
}

// The key of a "key=value" line; comments, sections and lines without a
// name before the '=' are not key lines.
std::optional<std::string_view> keyName(std::string_view line) {
    const auto t = trimBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || sectionName(t)) return std::nullopt;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const auto key = trimBlanks(line.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return key;
}

std::string_view valueOf(std::string_view line) {
    auto v = trimBlanks(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

// Quotes a value that would otherwise not read back as written.
std::string encodeValue(std::string_view value) {
    const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (quoted || trimBlanks(value).size() != value.size()) return '"' + std::string(value) + '"';
    return std::string(value);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

IniFile::IniFile(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        auto line = text.substr(start, end - start);
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.remove_suffix(1);
        lines_.emplace_back(line);
        carriageReturn_.push_back(cr);
        start = end + 1;
    }
    crlf_ = !carriageReturn_.empty() && carriageReturn_.front();
}

std::optional<size_t> IniFile::findSection(std::string_view section) const {
    section = trimBlanks(section);
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = sectionName(lines_[i]);
        if (name && equalsNoCase(*name, section)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
    const auto header = findSection(section);
    if (!header) return std::nullopt;
    key = trimBlanks(key);
    for (size_t i = *header + 1; i < lines_.size() && !sectionName(lines_[i]); ++i) {
        const auto name = keyName(lines_[i]);
        if (name && equalsNoCase(*name, key)) return std::string(valueOf(lines_[i]));
    }
    return std::nullopt;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    section = trimBlanks(section);
    key = trimBlanks(key);
    const std::string keyLine = std::string(key) + "=" + encodeValue(value);
    if (hasLineBreak(section) || hasLineBreak(key) || section.find(']') != std::string_view::npos ||
        hasLineBreak(value) || !keyName(keyLine) || *keyName(keyLine) != key) {
        RAISE_ERROR(kErrInvalidCall);
    }

    const auto header = findSection(section);
    if (!header) {
        const auto append = [&](std::string line) {
            lines_.push_back(std::move(line));
            carriageReturn_.push_back(crlf_);
        };
        if (!lines_.empty() && !trimBlanks(lines_.back()).empty()) append("");
        append("[" + std::string(section) + "]");
        append(keyLine);
        return;
    }

    size_t lastKeyLine = *header;
    for (size_t i = *header + 1; i < lines_.size() && !sectionName(lines_[i]); ++i) {
        const auto name = keyName(lines_[i]);
        if (!name) continue;
        if (equalsNoCase(*name, key)) {
            // Keep the key as spelled in the file and the blanks after '='.
            std::string& line = lines_[i];
            const auto valueStart = line.find_first_not_of(" \t", line.find('=') + 1);
            line = line.substr(0, std::min(valueStart, line.size())) + encodeValue(value);
            return;
        }
        lastKeyLine = i;
    }
    const auto at = static_cast<std::ptrdiff_t>(lastKeyLine + 1);
    lines_.insert(lines_.begin() + at, keyLine);
    carriageReturn_.insert(carriageReturn_.begin() + at, crlf_);
}

std::string IniFile::text() const {
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i];
        out += carriageReturn_[i] ? "\r\n" : "\n";
    }
    return out;
}

}  // namespace velmora

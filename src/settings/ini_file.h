// A small INI reader/writer that edits a profile file the way users expect:
// every line is kept as it was read (comments, blank lines, lines it does not
// understand, even binary junk), and set() touches only the one line of the
// key it writes.
//
// Section and key names match without regard to ASCII case, with surrounding
// blanks trimmed. A value is the text after the first '=', trimmed; a value in
// double quotes is what stands between the quotes. Lines starting with ';' or
// '#' are comments. Keys before the first section belong to no section.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class IniFile {
public:
    IniFile() = default;
    // Splits `text` into lines at '\n'. A line that ended in "\r\n" is
    // written back with it; lines added by set() end the way the file's
    // first line does.
    explicit IniFile(std::string_view text);

    // The value of the first `key` in the first `section` of that name.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Replaces the value of the first `key` in the first `section` in place,
    // keeping the line's key spelling and the blanks around '='. A missing key
    // is added after the section's last key line; a missing section is added
    // at the end of the file. Raises "Invalid procedure call or argument" for
    // names or values that cannot be stored on one line.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // The lines, each ended by '\n' (or "\r\n", as read).
    std::string text() const;

    const std::vector<std::string>& lines() const { return lines_; }

private:
    // The index of the first section header named `section`, if any.
    std::optional<size_t> findSection(std::string_view section) const;

    std::vector<std::string> lines_;     // without their line break
    std::vector<bool> carriageReturn_;   // the line ended in "\r\n"
    bool crlf_ = false;                  // new lines end in "\r\n"
};

}  // namespace velmora

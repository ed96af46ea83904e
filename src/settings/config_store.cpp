#include "settings/config_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "settings/ini_file.h"
#include "support/convert.h"
#include "support/errors.h"

namespace velmora {

namespace {

constexpr const char* kFileName = "Velmora.ini";
constexpr size_t kMaxValueLength = 999;

// A settings file that could not be used, with the system's reason.
class FileError : public AppError {
public:
    FileError(const std::string& what, const std::string& path, int err, int line)
        : AppError(what + " " + path + ": " + std::system_category().message(err), line), err_(err) {}
    // The file or its folder may not be written to.
    bool refused() const { return err_ == EACCES || err_ == EPERM || err_ == EROFS; }

private:
    int err_;
};

#define RAISE_FILE_ERROR(what, path, err) throw FileError((what), (path), (err), __LINE__)

// The settings folder under $XDG_CONFIG_HOME (or ~/.config when unset or not
// an absolute path).
std::string xdgSettingsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/" + kAppTitle;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "";
    }
    return std::string(home) + "/.config/" + kAppTitle;
}

// The bytes of the file. Nothing when it does not exist; nothing with `err`
// set when it exists but cannot be read.
std::optional<std::string> readFile(const std::string& path, int& err) {
    err = 0;
    // Non-blocking, so that a pipe or device in its place cannot hang the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) err = errno;
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return std::nullopt;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            if (n < 0) err = errno;
            break;
        }
    }
    ::close(fd);
    if (err) return std::nullopt;
    return data;
}

// ---- The file's encoding ----
//
// Settings files come as UTF-8 (with or without a byte-order mark) or, from
// editors that save "Unicode", as UTF-16 with a byte-order mark. The lines are
// handled as UTF-8 and written back in the file's own encoding and line ends.

enum class Encoding { Plain, Utf8Bom, Utf16Le, Utf16Be };

struct SettingsText {
    Encoding encoding = Encoding::Plain;
    std::string text;       // as UTF-8
    std::string strayByte;  // a UTF-16 file's odd last byte, kept as it was
};

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
// stands for the character of that value.
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

SettingsText decodeSettings(std::string_view bytes) {
    SettingsText t;
    const auto startsWith = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (startsWith("\xEF\xBB\xBF")) {
        t.encoding = Encoding::Utf8Bom;
        t.text = bytes.substr(3);
    } else if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF")) {
        const bool bigEndian = bytes[0] == '\xFE';
        t.encoding = bigEndian ? Encoding::Utf16Be : Encoding::Utf16Le;
        const auto body = bytes.substr(2);
        t.text = utf16ToUtf8(body, bigEndian);
        if (body.size() % 2) t.strayByte = body.back();
    } else {
        t.text = bytes;
    }
    return t;
}

// The line ends are the lines' own: IniFile keeps them.
std::string encodeSettings(const SettingsText& t, std::string text) {
    switch (t.encoding) {
        case Encoding::Plain: return text;
        case Encoding::Utf8Bom: return "\xEF\xBB\xBF" + text;
        case Encoding::Utf16Le: return "\xFF\xFE" + utf8ToUtf16(text, false) + t.strayByte;
        case Encoding::Utf16Be: return "\xFE\xFF" + utf8ToUtf16(text, true) + t.strayByte;
    }
    return text;
}

// Where the data of `path` lives: a settings file that is a symbolic link
// (into a folder of dotfiles, say) is written through to its target, so
// that the link stays a link.
std::string linkTarget(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int hops = 0; hops < 16; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) break;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

// Writes `text` to a new file beside `path` and renames it over `path`.
// On failure the temporary file is removed and `path` is untouched.
void replaceFile(const std::string& linkPath, const std::string& text) {
    const std::string path = linkTarget(linkPath);
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) RAISE_FILE_ERROR("Cannot write the settings file", path, errno);
    ::fchmod(fd, mode);  // mkstemp's 0600 would do too, so this may fail

    int failure = 0;
    for (size_t done = 0; !failure && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n >= 0) done += static_cast<size_t>(n);
        else if (errno != EINTR) failure = errno;
    }
    if (!failure && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && !failure) failure = errno;
    if (!failure && ::rename(temp.c_str(), path.c_str()) != 0) failure = errno;
    if (failure) {
        ::unlink(temp.c_str());
        RAISE_FILE_ERROR("Cannot write the settings file", path, failure);
    }

    // Make the rename itself durable; the new file is in place either way.
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

// Whether the settings may be written to `path`: its folder takes a new file
// and the file, if there is one, is not marked read-only. A file without any
// write permission was made read-only on purpose; that holds for root too.
bool writable(const std::string& linkPath) {
    const std::string path = linkTarget(linkPath);
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    if (::access(folder.c_str(), W_OK) != 0) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;  // a new file
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

ConfigStore::ConfigStore(std::string iniPath, DesktopPort& desktop)
    : iniPath_(std::move(iniPath)), desktop_(desktop) {
    const std::string xdg = xdgSettingsFolder() + "/" + kFileName;
    const auto same = [](const std::string& a, const std::string& b) {
        return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
    };
    if (same(iniPath_, xdg)) return;
    fallbackPath_ = xdg;
    // Settings that cannot be written where they are go to the user's copy.
    redirected_ = exists(iniPath_) && !writable(iniPath_);
}

std::string ConfigStore::resolvePath(const std::string& folder) {
    const std::string beside = folder + "/" + kFileName;
    // A settings file beside the program is read even when it cannot be
    // written; the store then writes to its copy in the XDG folder.
    if (exists(beside)) return beside;
    struct stat st {};
    const bool folderWritable = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                                ::access(folder.c_str(), W_OK) == 0;
    if (folderWritable) return beside;
    return xdgSettingsFolder() + "/" + kFileName;
}

std::optional<std::string> ConfigStore::readText(const std::string& path, int& err) const {
    const auto bytes = readFile(path, err);
    if (!bytes) return std::nullopt;
    return decodeSettings(*bytes).text;
}

std::string ConfigStore::GetConfigValue(const std::string& key) {
    std::string value;
    reportErrors("GetConfigValue: ", [this](const std::string& message, int) { report(message); }, [&] {
        std::optional<std::string> found;
        int err = 0;
        // The user's copy holds what was written since; the rest is in the file.
        if (redirected_) {
            if (const auto text = readText(fallbackPath_, err)) found = IniFile(*text).get(kAppTitle, key);
        }
        if (!found) {
            const auto text = readText(iniPath_, err);
            if (!text) return;  // a missing or unreadable file holds no settings
            found = IniFile(*text).get(kAppTitle, key);
        }
        std::string read = found.value_or(kMissingValueMarker);
        read.resize(std::min(read.size(), kMaxValueLength));
        read.resize(std::min(read.size(), read.find('\0')));
        if (read != kMissingValueMarker) value = std::move(read);
    });
    return value;
}

void ConfigStore::SetConfigValue(const std::string& key, const std::string& value) {
    reportErrors("SetConfigValue: ", [this](const std::string& message, int) { report(message); }, [&] {
        if (!redirected_) {
            try {
                write(iniPath_, iniPath_, key, value);
                return;
            } catch (const FileError& e) {
                if (!e.refused() || fallbackPath_.empty()) throw;
                redirected_ = true;
            }
        }
        // The copy starts as the file it stands in for.
        write(fallbackPath_, exists(fallbackPath_) ? fallbackPath_ : iniPath_, key, value);
    });
}

// The settings functions' plain message box; the same trouble on every
// write is told once.
void ConfigStore::report(const std::string& message) {
    if (reported_.insert(message).second) desktop_.messageBox(message, kAppTitle);
}

void ConfigStore::write(const std::string& target, const std::string& source, const std::string& key,
                        const std::string& value) {
    if (target == fallbackPath_ || fallbackPath_.empty()) {
        // The XDG folder is ours to create.
        const auto folder = std::filesystem::path(target).parent_path();
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) RAISE_FILE_ERROR("Cannot create the settings folder", folder.string(), ec.value());
    }
    int err = 0;
    const auto bytes = readFile(source, err);
    // Writing over a file we could not read would lose the settings in it.
    if (err) RAISE_FILE_ERROR("Cannot read the settings file", source, err);
    const SettingsText file = decodeSettings(bytes.value_or(""));
    IniFile ini(file.text);
    ini.set(kAppTitle, key, value);
    replaceFile(target, encodeSettings(file, ini.text()));
}

std::string programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace velmora

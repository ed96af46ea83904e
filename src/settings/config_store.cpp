#include "settings/config_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "settings/ini_file.h"
#include "settings/settings_encoding.h"
#include "base/convert.h"
#include "base/errors.h"

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

// `text` cut to at most `limit` bytes, not inside a UTF-8 character: one
// that the limit would split goes whole. Bytes that are not UTF-8 are cut
// where the limit falls.
void cutAtCharacter(std::string& text, size_t limit) {
    if (text.size() <= limit) return;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    size_t start = limit;  // the character the cut falls in starts at or before it
    while (start > 0 && limit - start < 3 && (byte(start) & 0xC0) == 0x80) --start;
    const unsigned lead = byte(start);
    const size_t length = lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    bool split = start < limit && start + length > limit && start + length <= text.size();
    for (size_t i = start + 1; split && i < start + length; ++i) split = (byte(i) & 0xC0) == 0x80;
    text.resize(split ? start : limit);
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
        cutAtCharacter(read, kMaxValueLength);
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
    if (!reported_.insert(message).second) return;
    if (!ending_) {
        desktop_.messageBox(message, kAppTitle);
        return;
    }
    const std::string line = std::string(kAppTitle) + ": " + message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
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
    replaceFile(target, withSetting(bytes.value_or(""), kAppTitle, key, value));
}

std::string programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace velmora

#include "settings/config_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "settings/ini_file.h"
#include "support/errors.h"

namespace velmora {

namespace {

constexpr const char* kFileName = "Velmora.ini";
constexpr size_t kMaxValueLength = 999;

// Writers in this process take turns, so that no update is lost between
// reading the file and renaming the new one over it.
std::mutex writeMutex;

[[noreturn]] void raiseFileError(const std::string& what, const std::string& path, int err) {
    RAISE_ERROR(what + " " + path + ": " + std::system_category().message(err));
}

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
    if (fd < 0) raiseFileError("Cannot write the settings file", path, errno);
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
        raiseFileError("Cannot write the settings file", path, failure);
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

}  // namespace

ConfigStore::ConfigStore(std::string iniPath, DesktopPort& desktop)
    : iniPath_(std::move(iniPath)), desktop_(desktop) {
    const auto folder = std::filesystem::path(iniPath_).parent_path().lexically_normal();
    createFolder_ = folder == std::filesystem::path(xdgSettingsFolder()).lexically_normal();
}

std::string ConfigStore::resolvePath(const std::string& folder) {
    const std::string beside = folder + "/" + kFileName;
    struct stat st {};
    const bool folderWritable = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                                ::access(folder.c_str(), W_OK) == 0;
    const bool fileWritable =
        ::access(beside.c_str(), F_OK) != 0 || ::access(beside.c_str(), W_OK) == 0;
    if (folderWritable && fileWritable) return beside;
    return xdgSettingsFolder() + "/" + kFileName;
}

std::string ConfigStore::GetConfigValue(const std::string& key) {
    std::string value;
    reportInMessageBox(desktop_, "GetConfigValue: ", [&] {
        int err = 0;
        const auto text = readFile(iniPath_, err);
        if (!text) return;  // a missing or unreadable file holds no settings
        std::string read = IniFile(*text).get(kAppTitle, key).value_or(kMissingValueMarker);
        read.resize(std::min(read.size(), kMaxValueLength));
        read.resize(std::min(read.size(), read.find('\0')));
        if (read != kMissingValueMarker) value = std::move(read);
    });
    return value;
}

void ConfigStore::SetConfigValue(const std::string& key, const std::string& value) {
    reportInMessageBox(desktop_, "SetConfigValue: ", [&] { write(key, value); });
}

void ConfigStore::write(const std::string& key, const std::string& value) {
    std::lock_guard lock(writeMutex);
    if (createFolder_) {
        const auto folder = std::filesystem::path(iniPath_).parent_path();
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) raiseFileError("Cannot create the settings folder", folder.string(), ec.value());
    }
    int err = 0;
    const auto text = readFile(iniPath_, err);
    // Writing over a file we could not read would lose the settings in it.
    if (err) raiseFileError("Cannot read the settings file", iniPath_, err);
    IniFile ini(text.value_or(""));
    ini.set(kAppTitle, key, value);
    replaceFile(iniPath_, ini.text());
}

std::string programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace velmora

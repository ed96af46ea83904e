// What tests read from outside: the generated videos, a file's bytes, the
// output of a command; and a folder of a test's own.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::testing {

// A generated test video (the build tells every test where they are).
inline std::string mediaPath(const std::string& name) {
    const char* dir = std::getenv("VELMORA_MEDIA_DIR");
    return std::string(dir ? dir : "media") + "/" + name;
}

inline std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeAll(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// What `command` prints on its standard output ("" if it cannot start).
inline std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// A fresh folder, removed with all it holds at the end.
struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name) {
        std::string tmpl = (std::filesystem::temp_directory_path() / ("velmora-" + name + "-XXXXXX")).string();
        path = ::mkdtemp(tmpl.data());
    }
    TempDir(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    // The names in it, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& e : std::filesystem::directory_iterator(path)) n.push_back(e.path().filename());
        std::sort(n.begin(), n.end());
        return n;
    }
};

}  // namespace velmora::testing

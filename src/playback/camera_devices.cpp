#include "playback/camera_devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <tuple>

namespace velmora {

namespace {

struct PixelFormat {
    std::uint32_t fourcc;
    const char* inputFormat;  // the player's name
    const char* label;
    bool compressed;
};

// The formats the player reads from a camera.
constexpr PixelFormat kFormats[] = {
    {V4L2_PIX_FMT_MJPEG, "mjpeg", "MJPEG", true},     {V4L2_PIX_FMT_JPEG, "mjpeg", "JPEG", true},
    {V4L2_PIX_FMT_H264, "h264", "H.264", true},       {V4L2_PIX_FMT_YUYV, "yuyv422", "YUYV", false},
    {V4L2_PIX_FMT_UYVY, "uyvy422", "UYVY", false},    {V4L2_PIX_FMT_YVYU, "yvyu422", "YVYU", false},
    {V4L2_PIX_FMT_NV12, "nv12", "NV12", false},       {V4L2_PIX_FMT_NV21, "nv21", "NV21", false},
    {V4L2_PIX_FMT_YUV420, "yuv420p", "YUV 4:2:0", false}, {V4L2_PIX_FMT_RGB24, "rgb24", "RGB", false},
    {V4L2_PIX_FMT_BGR24, "bgr24", "BGR", false},      {V4L2_PIX_FMT_GREY, "gray", "grey", false},
};

const PixelFormat* formatOf(std::uint32_t fourcc) {
    for (const PixelFormat& f : kFormats)
        if (f.fourcc == fourcc) return &f;
    return nullptr;
}

// Common sizes offered in place of a range of sizes.
constexpr std::pair<int, int> kCommonSizes[] = {{320, 240},   {640, 480},   {800, 600},   {1024, 768},
                                                {1280, 720},  {1280, 960},  {1920, 1080}, {2560, 1440},
                                                {3840, 2160}};
// Common rates offered in place of a range of intervals.
constexpr int kCommonRates[] = {5, 10, 15, 20, 24, 25, 30, 50, 60};

std::string text(const __u8* field, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(field);
    return std::string(chars, strnlen(chars, size));
}

class SystemDevices : public VideoDeviceLayer {
public:
    std::vector<std::string> nodes() override {
        std::vector<std::pair<int, std::string>> found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with("video") || name.size() == 5 || name.size() > 8 ||
                name.find_first_not_of("0123456789", 5) != std::string::npos)
                continue;
            found.emplace_back(std::stoi(name.substr(5)), entry.path().string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> paths;
        for (auto& [number, path] : found) paths.push_back(std::move(path));
        return paths;
    }
    int open(const std::string& node) override {
        const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }
    int ioctl(int fd, unsigned long request, void* arg) override {
        int r;
        do r = ::ioctl(fd, request, arg);
        while (r < 0 && errno == EINTR);
        return r < 0 ? -errno : 0;
    }
    void close(int fd) override { ::close(fd); }
};

// A descriptor that closes itself.
class OpenNode {
public:
    OpenNode(VideoDeviceLayer& devices, const std::string& node) : devices_(devices), fd_(devices.open(node)) {}
    ~OpenNode() {
        if (fd_ >= 0) devices_.close(fd_);
    }
    OpenNode(const OpenNode&) = delete;
    OpenNode& operator=(const OpenNode&) = delete;
    // The descriptor, or -errno when the open failed.
    int fd() const { return fd_; }
    int ioctl(unsigned long request, void* arg) { return devices_.ioctl(fd_, request, arg); }

private:
    VideoDeviceLayer& devices_;
    int fd_;
};

std::vector<std::pair<int, int>> sizesOf(OpenNode& dev, std::uint32_t fourcc) {
    std::vector<std::pair<int, int>> sizes;
    for (std::uint32_t i = 0;; ++i) {
        v4l2_frmsizeenum s{};
        s.index = i;
        s.pixel_format = fourcc;
        if (dev.ioctl(VIDIOC_ENUM_FRAMESIZES, &s) != 0) break;
        if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.emplace_back(s.discrete.width, s.discrete.height);
            continue;
        }
        // A range (continuous or in steps) comes as one answer: the common
        // sizes within it, and its largest.
        const auto& r = s.stepwise;
        const auto fits = [&r](std::uint32_t w, std::uint32_t h) {
            const std::uint32_t sw = std::max<std::uint32_t>(r.step_width, 1);
            const std::uint32_t sh = std::max<std::uint32_t>(r.step_height, 1);
            return w >= r.min_width && w <= r.max_width && h >= r.min_height && h <= r.max_height &&
                   (w - r.min_width) % sw == 0 && (h - r.min_height) % sh == 0;
        };
        for (auto [w, h] : kCommonSizes)
            if (fits(w, h)) sizes.emplace_back(w, h);
        if (std::find(sizes.begin(), sizes.end(), std::pair<int, int>(r.max_width, r.max_height)) == sizes.end())
            sizes.emplace_back(r.max_width, r.max_height);
        break;
    }
    return sizes;
}

// The frame intervals of one size, as numerator / denominator.
std::vector<std::pair<int, int>> intervalsOf(OpenNode& dev, std::uint32_t fourcc, int width, int height) {
    std::vector<std::pair<int, int>> intervals;
    for (std::uint32_t i = 0;; ++i) {
        v4l2_frmivalenum f{};
        f.index = i;
        f.pixel_format = fourcc;
        f.width = static_cast<std::uint32_t>(width);
        f.height = static_cast<std::uint32_t>(height);
        if (dev.ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &f) != 0) break;
        if (f.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (f.discrete.numerator > 0 && f.discrete.denominator > 0)
                intervals.emplace_back(f.discrete.numerator, f.discrete.denominator);
            continue;
        }
        // A range: the common rates within it, and its highest rate.
        const auto& r = f.stepwise;
        const auto within = [&r](std::uint64_t num, std::uint64_t den) {
            // min <= num/den <= max, compared without division.
            return num * r.min.denominator >= std::uint64_t(r.min.numerator) * den &&
                   num * r.max.denominator <= std::uint64_t(r.max.numerator) * den;
        };
        if (r.min.numerator > 0 && r.min.denominator > 0) intervals.emplace_back(r.min.numerator, r.min.denominator);
        for (int rate : kCommonRates)
            if (within(1, rate) && std::find(intervals.begin(), intervals.end(), std::pair(1, rate)) == intervals.end())
                intervals.emplace_back(1, rate);
        break;
    }
    return intervals;
}

bool reaches25(const CameraMode& m) { return m.fps() >= 24.5; }

// How much a rate is wanted among the rates of one size.
double rateScore(double fps) {
    if (fps >= 24.5 && fps <= 30.5) return 3000 + fps;
    if (fps > 30.5) return 2000 - fps;
    return 1000 + fps;
}

}  // namespace

VideoDeviceLayer& systemVideoDevices() {
    static SystemDevices devices;
    return devices;
}

bool CameraMode::compressed() const {
    const PixelFormat* f = formatOf(pixelFormat);
    return f && f->compressed;
}

CameraSettings CameraMode::settings() const {
    const PixelFormat* f = formatOf(pixelFormat);
    // Frames per second is the interval turned over.
    return {f ? f->inputFormat : "", width, height, intervalDenominator, intervalNumerator};
}

std::vector<Camera> listCameras(VideoDeviceLayer& devices) {
    std::vector<Camera> cameras;
    for (const std::string& node : devices.nodes()) {
        OpenNode dev(devices, node);
        Camera camera{node, {}, {}, false, {}};
        v4l2_capability cap{};
        if (dev.fd() >= 0) {
            if (dev.ioctl(VIDIOC_QUERYCAP, &cap) != 0) continue;
            const std::uint32_t caps = cap.capabilities & V4L2_CAP_DEVICE_CAPS ? cap.device_caps : cap.capabilities;
            if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) continue;
            camera.name = text(cap.card, sizeof cap.card);
            camera.busInfo = text(cap.bus_info, sizeof cap.bus_info);
        } else if (dev.fd() == -EBUSY) {
            camera.busy = true;  // some drivers let one program open the device at a time
        } else {
            continue;  // not permitted or gone: not offered
        }
        if (camera.name.empty()) camera.name = node;

        for (std::uint32_t i = 0; dev.fd() >= 0; ++i) {
            v4l2_fmtdesc fmt{};
            fmt.index = i;
            fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (dev.ioctl(VIDIOC_ENUM_FMT, &fmt) != 0) break;
            // Formats converted by a library in between are not the device's.
            if (fmt.flags & V4L2_FMT_FLAG_EMULATED || !formatOf(fmt.pixelformat)) continue;
            for (auto [w, h] : sizesOf(dev, fmt.pixelformat))
                for (auto [num, den] : intervalsOf(dev, fmt.pixelformat, w, h))
                    camera.modes.push_back({fmt.pixelformat, w, h, num, den});
        }
        if (dev.fd() >= 0) {
            // Asking to free no buffers is refused while another program owns them.
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            camera.busy = dev.ioctl(VIDIOC_REQBUFS, &req) == -EBUSY;
        }
        cameras.push_back(std::move(camera));
    }
    return cameras;
}

std::optional<CameraMode> chooseMode(const std::vector<CameraMode>& modes) {
    if (modes.empty()) return std::nullopt;
    const auto fitsFullHd = [](const CameraMode& m) { return m.width <= 1920 && m.height <= 1080; };
    const bool anyFits = std::any_of(modes.begin(), modes.end(), fitsFullHd);
    const auto rank = [&](const CameraMode& m) {
        const long long area = static_cast<long long>(m.width) * m.height;
        return std::make_tuple(!anyFits || fitsFullHd(m), reaches25(m), m.pixelFormat == V4L2_PIX_FMT_MJPEG,
                               anyFits ? area : -area, m.compressed(), rateScore(m.fps()));
    };
    return *std::max_element(modes.begin(), modes.end(),
                             [&](const CameraMode& a, const CameraMode& b) { return rank(a) < rank(b); });
}

std::string modeText(const CameraMode& mode) {
    const double fps = mode.fps();
    char rate[32];
    // Whole rates without decimals, 29.97 with two.
    if (fps == static_cast<int>(fps))
        std::snprintf(rate, sizeof rate, "%d fps", static_cast<int>(fps));
    else
        std::snprintf(rate, sizeof rate, "%.2f fps", fps);
    const PixelFormat* f = formatOf(mode.pixelFormat);
    return std::to_string(mode.width) + " \u00d7 " + std::to_string(mode.height) + ", " + rate + ", " +
           (f ? f->label : "?");
}

std::string modesSummary(const std::vector<CameraMode>& modes) {
    if (modes.empty()) return "its modes are unknown: it opens as it is set";
    std::vector<std::pair<int, int>> sizes;
    double slowest = modes.front().fps(), fastest = slowest;
    for (const CameraMode& m : modes) {
        if (std::find(sizes.begin(), sizes.end(), std::pair(m.width, m.height)) == sizes.end())
            sizes.emplace_back(m.width, m.height);
        slowest = std::min(slowest, m.fps());
        fastest = std::max(fastest, m.fps());
    }
    std::sort(sizes.begin(), sizes.end(), [](auto a, auto b) { return 1ll * a.first * a.second > 1ll * b.first * b.second; });
    constexpr std::size_t kShown = 4;
    std::string text;
    for (std::size_t i = 0; i < std::min(sizes.size(), kShown); ++i)
        text += (i ? ", " : "") + std::to_string(sizes[i].first) + " \u00d7 " + std::to_string(sizes[i].second);
    if (sizes.size() > kShown) text += ", ...";
    const auto rate = [](double fps) { return std::to_string(std::lround(fps)); };
    text += " at " + (rate(slowest) == rate(fastest) ? rate(fastest) : rate(slowest) + " to " + rate(fastest)) + " fps";
    return text;
}

std::string modeKey(const CameraMode& mode) {
    std::string fourcc;
    for (int shift = 0; shift < 32; shift += 8) fourcc += static_cast<char>((mode.pixelFormat >> shift) & 0xff);
    return fourcc + " " + std::to_string(mode.width) + "x" + std::to_string(mode.height) + " " +
           std::to_string(mode.intervalNumerator) + "/" + std::to_string(mode.intervalDenominator);
}

std::optional<CameraMode> modeFromKey(const std::string& key) {
    CameraMode m;
    char rest = 0;
    if (key.size() < 5 || key[4] != ' ' ||
        std::sscanf(key.c_str() + 5, "%dx%d %d/%d%c", &m.width, &m.height, &m.intervalNumerator,
                    &m.intervalDenominator, &rest) != 4 ||
        m.width <= 0 || m.height <= 0 || m.intervalNumerator <= 0 || m.intervalDenominator <= 0)
        return std::nullopt;
    for (int i = 3; i >= 0; --i) m.pixelFormat = m.pixelFormat << 8 | static_cast<unsigned char>(key[i]);
    return m;
}

std::string cameraProblem(VideoDeviceLayer& devices, const std::string& node) {
    OpenNode dev(devices, node);
    const std::string inUse = " is in use by another program. Close that program, then open the camera again.";
    switch (-dev.fd()) {
        case ENOENT:
        case ENODEV:
        case ENXIO: return "There is no camera at " + node + ": it may have been unplugged.";
        case EACCES:
        case EPERM:
            return "Velmora may not use the camera at " + node +
                   " (permission denied). The user needs to be a member of the \"video\" group.";
        case EBUSY: return "The camera at " + node + inUse;
        default:
            if (dev.fd() < 0) return "The camera at " + node + " could not be opened: " + std::strerror(-dev.fd()) + ".";
    }
    v4l2_capability cap{};
    if (dev.ioctl(VIDIOC_QUERYCAP, &cap) != 0) return node + " is not a camera.";
    const std::uint32_t caps = cap.capabilities & V4L2_CAP_DEVICE_CAPS ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return node + " is not a camera.";
    v4l2_requestbuffers req{};
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (dev.ioctl(VIDIOC_REQBUFS, &req) == -EBUSY)
        return "The camera \"" + text(cap.card, sizeof cap.card) + "\"" + inUse;
    return {};
}

}  // namespace velmora

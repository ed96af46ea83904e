// The cameras of the system (V4L2 capture devices): which there are, what
// modes they offer, the mode a camera is opened with, and whether it can be
// opened now.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "playback/media_source.h"

namespace velmora {

inline constexpr const char* kNoCameraFound = "No camera found.";

// The few calls the camera code makes to the system, so that tests can stand
// in for devices.
class VideoDeviceLayer {
public:
    virtual ~VideoDeviceLayer() = default;
    // The device nodes there are: "/dev/video0", ... in the order of their numbers.
    virtual std::vector<std::string> nodes() = 0;
    // Opens a node for reading and writing without blocking: a descriptor, or -errno.
    virtual int open(const std::string& node) = 0;
    // 0, or -errno.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void close(int fd) = 0;
};

// The real devices under /dev.
VideoDeviceLayer& systemVideoDevices();

// One size at one frame rate in one pixel format.
struct CameraMode {
    std::uint32_t pixelFormat = 0;  // the V4L2 four-character code
    int width = 0;
    int height = 0;
    // Seconds per frame, as V4L2 gives it: numerator / denominator.
    int intervalNumerator = 1;
    int intervalDenominator = 25;

    double fps() const { return intervalNumerator > 0 ? double(intervalDenominator) / intervalNumerator : 0; }
    bool compressed() const;
    // The player's settings for this mode.
    CameraSettings settings() const;
    bool operator==(const CameraMode&) const = default;
};

struct Camera {
    std::string node;     // /dev/videoN
    std::string name;     // the device's own name ("HD Webcam C615")
    std::string busInfo;  // where it is plugged in ("usb-0000:00:14.0-1"): tells alike cameras apart
    bool busy = false;    // another program is capturing from it
    // Every mode it offers in a format the player reads, in the device's order.
    std::vector<CameraMode> modes;
};

// The capture devices there are; nodes that are no cameras (metadata nodes,
// encoders, radios) are left out.
std::vector<Camera> listCameras(VideoDeviceLayer& devices);

// The mode a camera is opened with: MJPEG at the largest size up to
// 1920 x 1080 at 25 fps or more when it is offered; otherwise the largest
// size up to 1920 x 1080 at 25 fps or more in any format (compressed ones
// first); otherwise the largest such size at its highest rate.  A camera
// whose sizes are all larger gets its smallest.  Of the rates of one size,
// 25 to 30 fps are preferred (the highest of them), then the lowest above 30,
// then the highest below 25.  Nothing when there are no modes.
std::optional<CameraMode> chooseMode(const std::vector<CameraMode>& modes);

// "1920 × 1080, 30 fps, MJPEG"
std::string modeText(const CameraMode& mode);

// What a camera offers, in short: its sizes, largest first, and the range of
// its rates ("1920 × 1080, 1280 × 720, 640 × 480 at 5 to 60 fps").
std::string modesSummary(const std::vector<CameraMode>& modes);

// A mode as the settings file keeps it ("MJPG 1920x1080 1/30") and back;
// nothing for text that is no mode.
std::string modeKey(const CameraMode& mode);
std::optional<CameraMode> modeFromKey(const std::string& key);

// Why the camera at `node` cannot be opened now, in words ("" when it can):
// missing, not a camera, not permitted, or in use by another program.
std::string cameraProblem(VideoDeviceLayer& devices, const std::string& node);

}  // namespace velmora

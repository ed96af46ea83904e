// Cameras that are not there: V4L2 devices answered from a table, as the
// kernel answers the enumeration calls (one entry per index until EINVAL).
#pragma once

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "playback/camera_devices.h"

namespace velmora::testing {

struct FakeFormat {
    std::uint32_t fourcc = 0;
    // Width, height and the frame rates offered at that size.  None: any size
    // from 160 x 120 to 1920 x 1080 in steps of 16 x 8, at 1 to 60 fps.
    std::vector<std::tuple<int, int, std::vector<int>>> sizes;
    std::uint32_t flags = 0;
};

struct FakeDevice {
    std::string card;
    std::vector<FakeFormat> formats;
    std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    int openError = 0;  // errno of open()
    bool busy = false;  // another program owns the buffers
};

class FakeVideoDevices : public VideoDeviceLayer {
public:
    std::map<std::string, FakeDevice> devices;  // by node
    std::set<int> openFds;                      // descriptors not closed yet

    std::vector<std::string> nodes() override {
        std::vector<std::string> n;
        for (const auto& [node, device] : devices) n.push_back(node);
        return n;
    }
    int open(const std::string& node) override {
        const auto it = devices.find(node);
        if (it == devices.end()) return -ENOENT;
        if (it->second.openError) return -it->second.openError;
        byFd_[nextFd_] = &it->second;
        openFds.insert(nextFd_);
        return nextFd_++;
    }
    void close(int fd) override { openFds.erase(fd); }

    int ioctl(int fd, unsigned long request, void* arg) override {
        if (!openFds.count(fd)) return -EBADF;
        const FakeDevice& d = *byFd_.at(fd);
        if (request == VIDIOC_QUERYCAP) {
            auto* c = static_cast<v4l2_capability*>(arg);
            std::memcpy(c->card, d.card.c_str(), std::min(d.card.size(), sizeof c->card - 1));
            c->capabilities = d.caps | V4L2_CAP_DEVICE_CAPS;
            c->device_caps = d.caps;
            return 0;
        }
        if (request == VIDIOC_REQBUFS) return d.busy ? -EBUSY : 0;
        if (request == VIDIOC_ENUM_FMT) {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            if (f->index >= d.formats.size()) return -EINVAL;
            f->pixelformat = d.formats[f->index].fourcc;
            f->flags = d.formats[f->index].flags;
            return 0;
        }
        if (request == VIDIOC_ENUM_FRAMESIZES) {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            const FakeFormat* f = format(d, s->pixel_format);
            if (!f || s->index >= std::max<std::size_t>(f->sizes.size(), 1)) return -EINVAL;
            if (f->sizes.empty()) {
                s->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                s->stepwise = {160, 1920, 16, 120, 1080, 8};
                return 0;
            }
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            const auto& [w, h, rates] = f->sizes[s->index];
            s->discrete = {static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
            return 0;
        }
        if (request == VIDIOC_ENUM_FRAMEINTERVALS) {
            auto* i = static_cast<v4l2_frmivalenum*>(arg);
            const FakeFormat* f = format(d, i->pixel_format);
            if (!f) return -EINVAL;
            if (f->sizes.empty() && i->index == 0) {
                i->type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
                i->stepwise = {{1, 60}, {1, 1}, {1, 1}};
                return 0;
            }
            for (const auto& [w, h, rates] : f->sizes)
                if (w == int(i->width) && h == int(i->height) && i->index < rates.size()) {
                    i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                    i->discrete = {1, static_cast<std::uint32_t>(rates[i->index])};
                    return 0;
                }
            return -EINVAL;
        }
        return -ENOTTY;
    }

private:
    static const FakeFormat* format(const FakeDevice& d, std::uint32_t fourcc) {
        const auto it = std::find_if(d.formats.begin(), d.formats.end(), [&](auto& f) { return f.fourcc == fourcc; });
        return it == d.formats.end() ? nullptr : &*it;
    }
    int nextFd_ = 100;
    std::map<int, const FakeDevice*> byFd_;
};

}  // namespace velmora::testing

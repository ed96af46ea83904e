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
#include <vector>

#include "playback/camera_devices.h"

namespace velmora::testing {

struct FakeSize {
    int width = 0, height = 0;
    std::vector<std::pair<int, int>> intervals;  // numerator/denominator, discrete
    // A continuous range of intervals instead: {min, max}.
    std::vector<std::pair<int, int>> intervalRange;
};

struct FakeFormat {
    std::uint32_t fourcc = 0;
    std::uint32_t flags = 0;
    std::vector<FakeSize> sizes;  // discrete
    // A stepwise range of sizes instead: min w, min h, max w, max h, step w, step h.
    std::vector<int> sizeRange;
};

struct FakeDevice {
    std::string card;
    std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<FakeFormat> formats;
    int openError = 0;  // errno of open()
    bool busy = false;  // another program owns the buffers
};

class FakeVideoDevices : public VideoDeviceLayer {
public:
    std::map<std::string, FakeDevice> devices;  // by node
    std::set<int> openFds;                      // descriptors not closed yet

    std::vector<std::string> nodes() override {
        std::vector<std::string> n;
        for (const auto& [node, d] : devices) n.push_back(node);
        return n;
    }
    int open(const std::string& node) override {
        const auto it = devices.find(node);
        if (it == devices.end()) return -ENOENT;
        if (it->second.openError) return -it->second.openError;
        const int fd = nextFd_++;
        byFd_[fd] = &it->second;
        openFds.insert(fd);
        return fd;
    }
    void close(int fd) override { openFds.erase(fd); }

    int ioctl(int fd, unsigned long request, void* arg) override {
        if (!openFds.count(fd)) return -EBADF;
        const FakeDevice& d = *byFd_.at(fd);
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* c = static_cast<v4l2_capability*>(arg);
                std::memcpy(c->card, d.card.c_str(), std::min(d.card.size(), sizeof c->card - 1));
                std::memcpy(c->bus_info, "usb-fake", 8);
                c->capabilities = d.caps | V4L2_CAP_DEVICE_CAPS;
                c->device_caps = d.caps;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* f = static_cast<v4l2_fmtdesc*>(arg);
                if (f->index >= d.formats.size()) return -EINVAL;
                f->pixelformat = d.formats[f->index].fourcc;
                f->flags = d.formats[f->index].flags;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* s = static_cast<v4l2_frmsizeenum*>(arg);
                const FakeFormat* f = format(d, s->pixel_format);
                if (!f) return -EINVAL;
                if (!f->sizeRange.empty()) {
                    if (s->index > 0) return -EINVAL;
                    s->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    const auto& r = f->sizeRange;
                    s->stepwise = {std::uint32_t(r[0]), std::uint32_t(r[2]), std::uint32_t(r[4]),
                                   std::uint32_t(r[1]), std::uint32_t(r[3]), std::uint32_t(r[5])};
                    return 0;
                }
                if (s->index >= f->sizes.size()) return -EINVAL;
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete = {std::uint32_t(f->sizes[s->index].width), std::uint32_t(f->sizes[s->index].height)};
                return 0;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* i = static_cast<v4l2_frmivalenum*>(arg);
                const FakeFormat* f = format(d, i->pixel_format);
                if (!f) return -EINVAL;
                const FakeSize* size = nullptr;
                for (const FakeSize& s : f->sizes)
                    if (s.width == int(i->width) && s.height == int(i->height)) size = &s;
                static const FakeSize anySize{0, 0, {{1, 30}}, {}};
                if (!size && !f->sizeRange.empty()) size = &anySize;
                if (!size) return -EINVAL;
                if (!size->intervalRange.empty()) {
                    if (i->index > 0) return -EINVAL;
                    i->type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
                    const auto& r = size->intervalRange;
                    i->stepwise.min = {std::uint32_t(r[0].first), std::uint32_t(r[0].second)};
                    i->stepwise.max = {std::uint32_t(r[1].first), std::uint32_t(r[1].second)};
                    i->stepwise.step = {1, 1};
                    return 0;
                }
                if (i->index >= size->intervals.size()) return -EINVAL;
                i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                i->discrete = {std::uint32_t(size->intervals[i->index].first),
                               std::uint32_t(size->intervals[i->index].second)};
                return 0;
            }
            case VIDIOC_REQBUFS: return d.busy ? -EBUSY : 0;
            default: return -ENOTTY;
        }
    }

private:
    static const FakeFormat* format(const FakeDevice& d, std::uint32_t fourcc) {
        for (const FakeFormat& f : d.formats)
            if (f.fourcc == fourcc) return &f;
        return nullptr;
    }
    int nextFd_ = 100;
    std::map<int, FakeDevice*> byFd_;
};

}  // namespace velmora::testing

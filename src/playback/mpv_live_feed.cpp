#include "playback/mpv_live_feed.h"

#include <mpv/stream_cb.h>

#include <cstdio>
#include <memory>
#include <random>

#include "playback/live_encoder.h"

namespace velmora {

namespace {

constexpr const char* kProtocol = "velmora-feed";

LiveEncoder& encoderOf(void* cookie) { return *static_cast<LiveEncoder*>(cookie); }

}  // namespace

MpvLiveFeed::MpvLiveFeed(mpv_handle* mpv) { mpv_stream_cb_add_ro(mpv, kProtocol, this, &MpvLiveFeed::open); }

std::string MpvLiveFeed::target(CaptureInput input) {
    std::lock_guard lock(m_);
    input_ = std::move(input);
    static std::random_device random;
    char name[24];
    std::snprintf(name, sizeof name, "%08x%08x", random(), random());
    current_ = std::string(kProtocol) + "://" + name;
    lastError_.clear();
    return current_;
}

void MpvLiveFeed::forget() {
    std::lock_guard lock(m_);
    current_.clear();
    input_ = {};
}

std::string MpvLiveFeed::lastError() {
    std::lock_guard lock(m_);
    return lastError_;
}

// On mpv's thread that opens the stream.
int MpvLiveFeed::open(void* self, char* uri, mpv_stream_cb_info* info) {
    auto* feed = static_cast<MpvLiveFeed*>(self);
    CaptureInput input;
    {
        std::lock_guard lock(feed->m_);
        if (feed->current_.empty() || uri != feed->current_) return MPV_ERROR_LOADING_FAILED;
        input = feed->input_;
    }
    auto encoder = std::make_unique<LiveEncoder>(std::move(input));
    if (!encoder->start()) {
        std::lock_guard lock(feed->m_);
        feed->lastError_ = encoder->error();
        return MPV_ERROR_LOADING_FAILED;
    }
    info->cookie = encoder.release();
    info->read_fn = [](void* cookie, char* buffer, std::uint64_t size) {
        return encoderOf(cookie).read(buffer, static_cast<std::size_t>(size));
    };
    info->close_fn = [](void* cookie) { delete &encoderOf(cookie); };
    info->cancel_fn = [](void* cookie) { encoderOf(cookie).cancel(); };
    return 0;
}

}  // namespace velmora

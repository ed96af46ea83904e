#include "playback/live_feed.h"

#include <algorithm>

namespace velmora {

namespace {

// "a=1,b=2" as pairs.  The values liveOptions() gives a camera hold no
// commas of their own.
std::vector<std::pair<std::string, std::string>> keyValues(const std::string& list) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, end - start);
        if (const auto eq = item.find('='); eq != std::string::npos && eq > 0)
            pairs.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        start = end + 1;
    }
    return pairs;
}

bool isModeKey(const std::string& key) {
    return key == "input_format" || key == "video_size" || key == "framerate";
}

}  // namespace

bool cameraFeedEncoded(const CameraSettings* mode) { return !mode || mode->inputFormat != "h264"; }

CameraFeed cameraFeed(const MediaSource& camera, const std::vector<PlayerOption>& options,
                      const CaptureInput* standIn, bool encode) {
    CameraFeed feed;
    std::vector<std::pair<std::string, std::string>> lavf;
    for (const PlayerOption& o : options)
        if (o.name == "demuxer-lavf-o") lavf = keyValues(o.value);
    const bool sendsH264 = std::any_of(lavf.begin(), lavf.end(), [](const auto& kv) {
        return kv.first == "input_format" && kv.second == "h264";
    });
    feed.encoded = encode && !sendsH264;
    // A stand-in has no modes: they are left to the device.
    if (standIn) std::erase_if(lavf, [](const auto& kv) { return isModeKey(kv.first); });

    if (feed.encoded) {
        feed.input = standIn ? *standIn : CaptureInput{"video4linux2", camera.location, {}};
        for (const auto& kv : lavf)
            if (isModeKey(kv.first)) feed.input.options.push_back(kv);
        // The player reads the encoder's MPEG-TS, without guessing its format.
        std::erase_if(lavf, [](const auto& kv) { return isModeKey(kv.first); });
    } else {
        feed.directTarget = standIn ? "av://" + standIn->format + ":" + standIn->url : playerTarget(camera);
    }
    std::string lavfText;
    for (const auto& [key, value] : lavf) lavfText += (lavfText.empty() ? "" : ",") + key + "=" + value;
    for (const PlayerOption& o : options)
        feed.playerOptions.push_back(o.name == "demuxer-lavf-o" ? PlayerOption{o.name, lavfText} : o);
    if (feed.encoded) feed.playerOptions.push_back({"demuxer-lavf-format", "mpegts"});
    return feed;
}

}  // namespace velmora

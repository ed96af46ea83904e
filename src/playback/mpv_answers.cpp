#include "playback/mpv_answers.h"

#include <mpv/client.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace velmora::mpv_answers {

std::string trimmed(std::string s) {
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == '.'))
        s.pop_back();
    return s;
}

std::string logReason(const std::string& prefix, const std::string& text) {
    static const char* const sources[] = {"file", "stream", "demux", "lavf", "ffmpeg"};
    if (std::none_of(std::begin(sources), std::end(sources),
                     [&](const char* s) { return prefix.starts_with(s); }))
        return {};
    if (text.starts_with("Failed to") || text.find("() failed") != std::string::npos) return {};
    if (auto quote = text.rfind("': "); quote != std::string::npos) return trimmed(text.substr(quote + 3));
    auto colon = text.find(": ");
    return trimmed(colon == std::string::npos ? text : text.substr(colon + 2));
}

std::string uprightFilter(std::int64_t degrees) {
    switch (((degrees % 360 + 360) % 360 + 45) / 90 % 4) {
        case 1: return "lavfi=[transpose=clock]";
        case 2: return "lavfi=[hflip,vflip]";
        case 3: return "lavfi=[transpose=cclock]";
        default: return "";
    }
}

std::int64_t nodeInt(const mpv_node& node, const char* key) {
    if (node.format != MPV_FORMAT_NODE_MAP) return -1;
    for (int i = 0; i < node.u.list->num; ++i)
        if (std::strcmp(node.u.list->keys[i], key) == 0 && node.u.list->values[i].format == MPV_FORMAT_INT64)
            return node.u.list->values[i].u.int64;
    return -1;
}

const mpv_node* nodeValue(const mpv_node& node, const char* key) {
    if (node.format != MPV_FORMAT_NODE_MAP) return nullptr;
    for (int i = 0; i < node.u.list->num; ++i)
        if (std::strcmp(node.u.list->keys[i], key) == 0) return &node.u.list->values[i];
    return nullptr;
}

namespace {

bool nodeFlag(const mpv_node& node, const char* key) {
    const mpv_node* value = nodeValue(node, key);
    return value && value->format == MPV_FORMAT_FLAG && value->u.flag;
}

}  // namespace

std::int64_t videoRotation(const mpv_node& trackList) {
    if (trackList.format != MPV_FORMAT_NODE_ARRAY) return 0;
    const mpv_node* chosen = nullptr;
    int rank = 0;
    for (int i = 0; i < trackList.u.list->num; ++i) {
        const mpv_node& track = trackList.u.list->values[i];
        const mpv_node* type = nodeValue(track, "type");
        if (!type || type->format != MPV_FORMAT_STRING || std::strcmp(type->u.string, "video") != 0 ||
            nodeFlag(track, "albumart"))
            continue;
        const int r = nodeFlag(track, "selected") ? 3 : nodeFlag(track, "default") ? 2 : 1;
        if (r > rank) {
            rank = r;
            chosen = &track;
        }
    }
    return chosen ? std::max<std::int64_t>(0, nodeInt(*chosen, "demux-rotation")) : 0;
}

}  // namespace velmora::mpv_answers

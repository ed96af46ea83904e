// Reading what mpv answers: the values in its nodes, the reason its log
// lines give for a failure, and the filter a video track's rotation asks for.
#pragma once

#include <cstdint>
#include <string>

struct mpv_node;

namespace velmora::mpv_answers {

// `s` without the blanks and full stops at its end.
std::string trimmed(std::string s);

// The reason one of mpv's log lines gives, or "" for lines that only say
// that something failed ("Failed to open x.", "avformat_open_input() failed").
//   [file] Cannot open file 'x': No such file or directory
//   [ffmpeg/demuxer] mov,mp4,m4a,3gp,3g2,mj2: moov atom not found
std::string logReason(const std::string& prefix, const std::string& text);

// The filter that turns a picture tagged with `degrees` of clockwise rotation
// upright, "" when none is needed.  mpv's software renderer cannot turn
// pictures itself (it crops outside the picture when asked to), so the
// decoded frames are turned before they reach it.
std::string uprightFilter(std::int64_t degrees);

// The value under `key` in a node map; null when there is none.
const mpv_node* nodeValue(const mpv_node& node, const char* key);

// The whole number under `key` in a node map; -1 when there is none.
std::int64_t nodeInt(const mpv_node& node, const char* key);

// The rotation tag of the video track mpv is about to play: the one selected,
// else the one marked default, else the first.  Tracks are not yet selected
// when the file has just been read.
std::int64_t videoRotation(const mpv_node& trackList);

}  // namespace velmora::mpv_answers

#include "support/fakes.h"

#include <algorithm>

namespace velmora::testing {

namespace {
void failIf(const std::set<std::string>& failing, const char* request) {
    if (failing.count(request)) RAISE_ERROR("Automation error");
}
}  // namespace

void FakePlayer::setFileName(const std::string& path) {
    failIf(failing, "open");
    calls.push_back("open:" + path);
    isLive = false;
    if (opening) {  // as the real player: one open at a time
        lastError = "Another file is still being opened.";
        return;
    }
    const bool wasOpen = state != play_state::kNoMedia;
    if (wasOpen) raiseOpenStateChange(open_state::kMediaOpen, open_state::kClosed);
    if (whileOpening) {
        // The real open waits on an event loop that runs drops and queued calls.
        open.clear();
        changeState(play_state::kNoMedia);
        opening = true;
        whileOpening(path);
        opening = false;
    }
    auto it = openable.find(path);
    if (it == openable.end()) {
        open.clear();
        lastError = "The file could not be opened: unrecognized file format.";
        changeState(play_state::kNoMedia);
        return;
    }
    open = path;
    size = it->second;
    position = 0;
    lastError.clear();
    raiseOpenStateChange(open_state::kClosed, open_state::kMediaOpen);
    changeState(play_state::kPlaying);
}

bool FakePlayer::setLiveSource(const MediaSource& source, const std::vector<PlayerOption>& options) {
    if (!playsLive) return false;
    const std::string target = playerTarget(source);
    setFileName(target);
    calls.back() = "live:" + target;
    isLive = state != play_state::kNoMedia;
    liveOptions = options;
    return true;
}

void FakePlayer::setCurrentPosition(double s) {
    failIf(failing, "seek");
    calls.push_back("seek:" + std::to_string(s));
    seeks.push_back(s);
    position = s;
}

int FakePlayer::playState() const {
    if (throwOnPlayState) RAISE_ERROR("Automation error");
    return state;
}

void FakePlayer::setSlowSpeed(bool s) {
    calls.push_back(s ? "slow:1" : "slow:0");
    slow = s;
}

void FakePlayer::play() {
    failIf(failing, "play");
    calls.push_back("play");
    if (state != play_state::kNoMedia) changeState(play_state::kPlaying);
}

void FakePlayer::pause() {
    failIf(failing, "pause");
    calls.push_back("pause");
    if (state == play_state::kPlaying) changeState(play_state::kPaused);
}

void FakePlayer::changeState(int s) {
    if (s == state) return;
    const int old = state;
    state = s;
    raisePlayStateChange(old, s);
}

int FakePlayer::count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

void FakeDesktop::clipboardSetImage(const FrameSlot& slot) {
    if (failClipboard) RAISE_ERROR("Cannot open clipboard");
    clipboardWidth = slot.width;
    clipboardHeight = slot.height;
    clipboardPixels.assign(slot.pixels.get(), slot.pixels.get() + static_cast<size_t>(slot.width) * slot.height);
}

void FakeClientArea::copyTile(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy) {
    for (int y = 0; y < h; ++y) {
        const int ty = dy + y, fy = sy + y;
        if (ty < 0 || ty >= slot.height || fy < 0 || fy >= height) continue;
        for (int x = 0; x < w; ++x) {
            const int tx = dx + x, fx = sx + x;
            if (tx < 0 || tx >= slot.width || fx < 0 || fx >= width) continue;
            slot.row(ty)[tx] = pixels[static_cast<size_t>(fy) * width + fx];
        }
    }
}

void FakeView::setFocus(Ctl c) { focus.push_back(c); }

}  // namespace velmora::testing

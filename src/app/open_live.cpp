// Opening a network stream or a camera from the File menu, and returning to
// live from the View menu.
#include <algorithm>

#include "app/frm_main.h"
#include "base/errors.h"
#include "playback/live_state.h"

namespace velmora {

namespace {

// The settings file's keys: the last stream address, and the camera last
// chosen (its node, its name and its mode).
constexpr const char* kLastStreamKey = "LastStreamUrl";
constexpr const char* kLastCameraKey = "LastCamera";
constexpr const char* kLastCameraNameKey = "LastCameraName";
constexpr const char* kLastCameraModeKey = "LastCameraMode";
// Seconds behind live that live sources play at; 0 or missing: live.
constexpr const char* kLiveDelayKey = "LiveDelay";

std::string trimmed(std::string s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.back())) s.pop_back();
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), space));
    return s;
}

bool offers(const Camera& camera, const CameraMode& mode) {
    return std::find(camera.modes.begin(), camera.modes.end(), mode) != camera.modes.end();
}

}  // namespace

std::string FrmMain::prepareLive(const MediaSource& source, std::vector<PlayerOption>& options,
                                 std::string& cameraName) {
    if (source.kind != SourceKind::Camera) {
        options = liveOptions(source, liveBuffer, nullptr);
        return {};
    }
    if (std::string problem = cameraProblem(*videoDevices, source.location); !problem.empty()) return problem;
    std::optional<CameraMode> mode;
    for (const Camera& camera : listCameras(*videoDevices)) {
        if (camera.node != source.location) continue;
        cameraName = camera.name;
        // The mode chosen last time for this camera, while it still offers it.
        const auto remembered = modeFromKey(settings_.GetConfigValue(kLastCameraModeKey));
        const bool same = settings_.GetConfigValue(kLastCameraKey) == camera.node &&
                          settings_.GetConfigValue(kLastCameraNameKey) == camera.name;
        mode = same && remembered && offers(camera, *remembered) ? remembered : chooseMode(camera.modes);
    }
    // A camera whose modes are all unknown here opens in the mode it is in.
    const CameraSettings settings = mode ? mode->settings() : CameraSettings{};
    options = liveOptions(source, liveBuffer, mode ? &settings : nullptr);
    return {};
}

void FrmMain::mnuFileOpenStream_Click() {
    endSilently([&] {
        if (!liveDialogs_) return;
        PauseVideo();
        const auto entered = liveDialogs_->askStreamAddress(settings_.GetConfigValue(kLastStreamKey));
        if (!entered) return;  // cancelled
        const std::string address = trimmed(*entered);
        if (address.empty()) return;
        // Kept when it is a stream's address, also when the stream does not
        // answer now: it is offered again, to be corrected or tried later.
        if (const SourceChoice choice = classifySource(address); choice.ok() && choice.source.kind == SourceKind::Stream)
            settings_.SetConfigValue(kLastStreamKey, address);
        OpenMedia(address);
    });
}

void FrmMain::mnuFileOpenCamera_Click() {
    endSilently([&] {
        if (!liveDialogs_) return;
        PauseVideo();
        const std::vector<Camera> cameras = listCameras(*videoDevices);
        if (cameras.empty()) return desktop_.messageBox(kNoCameraFound, kAppTitle);

        // The camera chosen last time (by node and name, else by name), in
        // the mode chosen then; otherwise the first camera in its best mode.
        LiveDialogsPort::CameraChoice selected;
        const std::string node = settings_.GetConfigValue(kLastCameraKey);
        const std::string name = settings_.GetConfigValue(kLastCameraNameKey);
        for (std::size_t pass = 0; pass < 2; ++pass) {
            const auto it = std::find_if(cameras.begin(), cameras.end(), [&](const Camera& c) {
                return c.name == name && (pass == 1 || c.node == node);
            });
            if (it == cameras.end()) continue;
            selected.camera = static_cast<std::size_t>(it - cameras.begin());
            break;
        }
        const Camera& preselected = cameras[selected.camera];
        const auto remembered = modeFromKey(settings_.GetConfigValue(kLastCameraModeKey));
        if (remembered && preselected.name == name && offers(preselected, *remembered))
            selected.mode = *remembered;
        else if (const auto best = chooseMode(preselected.modes))
            selected.mode = *best;

        const auto chosen = liveDialogs_->askCamera(cameras, selected);
        if (!chosen || chosen->camera >= cameras.size()) return;  // cancelled
        const Camera& camera = cameras[chosen->camera];
        settings_.SetConfigValue(kLastCameraKey, camera.node);
        settings_.SetConfigValue(kLastCameraNameKey, camera.name);
        settings_.SetConfigValue(kLastCameraModeKey, offers(camera, chosen->mode) ? modeKey(chosen->mode) : "");
        OpenMedia(camera.node);
    });
}

void FrmMain::mnuViewGoLive_Click() {
    trap("mnuViewGoLive_Click: ", [&] {
        if (!player_.live()) return;
        player_.goLive();
        // From the newest frame on, playing; a review in progress ends.
        if (cmdPlay.value() == 1) {
            ShowImage(0);
            PlayVideo();
        } else {
            setPlayButton(1);
        }
    });
}

int FrmMain::liveDelaySetting() { return liveDelayFromText(settings_.GetConfigValue(kLiveDelayKey)); }

void FrmMain::mnuViewDelay_Click() {
    trap("mnuViewDelay_Click: ", [&] {
        if (!liveDialogs_) return;
        // The source plays on behind the dialog, so that a change is seen.
        const int before = liveDelaySetting();
        const auto chosen = liveDialogs_->askDelay(before, player_.live());
        if (!chosen) return;  // closed without Close: the change is dropped
        const int seconds = std::clamp(*chosen, 0, kMaxLiveDelay);
        settings_.SetConfigValue(kLiveDelayKey, std::to_string(seconds));
        if (seconds != before) player_.setLiveDelay(seconds);
    });
}

}  // namespace velmora

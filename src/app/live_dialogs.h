// The dialogs that open a live source and set the delay behind live, as the
// main window asks for them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "playback/camera_devices.h"

namespace velmora {

class LiveDialogsPort {
public:
    struct CameraChoice {
        std::size_t camera = 0;  // index into the cameras shown
        CameraMode mode;
    };

    virtual ~LiveDialogsPort() = default;
    // File > Open Stream: one address field that holds `last` to begin with.
    // The address entered, or nothing when cancelled.
    virtual std::optional<std::string> askStreamAddress(const std::string& last) = 0;
    // File > Open Camera: the cameras (never none) by name with their modes,
    // `selected` chosen to begin with.  The choice, or nothing when cancelled.
    virtual std::optional<CameraChoice> askCamera(const std::vector<Camera>& cameras,
                                                  const CameraChoice& selected) = 0;
    // View > Delay: the seconds behind live (0 to 60), `seconds` to begin
    // with; `liveOpen` is false when what is open (if anything) is no live
    // source, which the dialog then says it applies to.  The seconds when
    // closed with Close, nothing when closed otherwise (Esc, the close box).
    virtual std::optional<int> askDelay(int seconds, bool liveOpen) = 0;
};

}  // namespace velmora

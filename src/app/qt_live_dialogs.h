// The dialogs that open a stream or a camera, on Qt: modal over the main window.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/live_dialogs.h"

namespace velmora {

class QtLiveDialogs : public LiveDialogsPort {
public:
    explicit QtLiveDialogs(QWidget* parent) : parent_(parent) {}

    std::optional<std::string> askStreamAddress(const std::string& last) override;
    std::optional<CameraChoice> askCamera(const std::vector<Camera>& cameras, const CameraChoice& selected) override;
    std::optional<int> askDelay(int seconds, bool liveOpen) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace velmora

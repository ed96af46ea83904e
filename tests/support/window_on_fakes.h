// The Qt main window bound to the procedures, on fakes of the player, the
// settings and the client area, and on the desktop the test chooses.
#pragma once

#include <QWidget>
#include <memory>

#include "app/frm_main.h"
#include "app/main_window.h"
#include "support/fakes.h"
#include "base/virtual_clock.h"

namespace velmora::testing {

template <typename Desktop>
struct WindowOnFakes {
    WindowOnFakes() { window->bind(*frm); }

    // In the program's order, so they go in its order.
    VirtualClock clock;
    FakePlayer player;
    Desktop desktop;
    FakeSettings settings;
    FakeClientArea area;
    std::unique_ptr<QWidget> playerWidget = std::make_unique<QWidget>();
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>(playerWidget.get());
    std::unique_ptr<FrmMain> frm = std::make_unique<FrmMain>(clock, desktop, player, settings, area);
};

}  // namespace velmora::testing

// Test doubles for the main window's ports.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/form_view.h"
#include "capture/client_area.h"
#include "playback/player_port.h"
#include "settings/settings_port.h"
#include "support/desktop_port.h"
#include "base/errors.h"
#include "support/frm_error.h"

namespace velmora::testing {

// A scripted player: opens what `openable` allows, reports state changes
// synchronously, and records every request.
class FakePlayer : public PlayerPort {
public:
    // Paths that open, with their natural size (video plus control strip).
    struct Media {
        int width = 320;
        int height = 310;
    };
    std::map<std::string, Media> openable;

    std::vector<std::string> calls;        // "open:<path>", "play", "pause", "seek:<s>", "slow:0|1"
    std::vector<double> seeks;
    double position = 0;
    bool slow = false;
    int state = play_state::kNoMedia;
    std::string open;
    Media size;
    bool throwOnPlayState = false;
    // Requests that fail with "Automation error": "open", "seek", "play", "pause".
    std::set<std::string> failing;
    // Runs inside setFileName, as the event loop does while a file opens.
    std::function<void(const std::string& path)> whileOpening;
    bool opening = false;

    void setFileName(const std::string& path) override;
    std::string fileName() const override { return open; }
    double currentPosition() const override { return position; }
    void setCurrentPosition(double s) override;
    std::string errorDescription() const override { return lastError; }
    int playState() const override;
    void setSlowSpeed(bool s) override;
    void play() override;
    void pause() override;
    int naturalWidth() const override { return size.width; }
    int naturalHeight() const override { return size.height; }

    // Live sources open like files, by their player target ("live:<target>"
    // is recorded, their options in `liveOptions`), unless `playsLive` is off.
    bool playsLive = true;
    bool isLive = false;
    std::vector<PlayerOption> liveOptions;
    bool setLiveSource(const MediaSource& source, const std::vector<PlayerOption>& options) override;
    bool live() const override { return isLive; }
    void goLive() override { calls.push_back("golive"); }
    int liveDelay = 0;
    void setLiveDelay(int seconds) override { liveDelay = seconds; }
    bool held = false;
    bool liveHeld() const override { return held; }
    long long pictures = -1;
    long long picturesShown() const override { return pictures; }

    // Moves to `s` as if the player itself had changed state.
    void changeState(int s);
    // The video takes another size while it plays.
    void changeSize(int w, int h) {
        size = {w, h};
        raiseVideoSizeChange();
    }
    int count(const std::string& call) const;

    std::string lastError;
};

struct FakeDesktop : DesktopPort {
    struct Box {
        std::string text, caption;
    };
    std::vector<Box> boxes;
    std::vector<ModalWindow> modals;
    std::vector<std::string> opened;
    std::vector<std::pair<std::string, std::string>> fileDialogs;  // title, filter; each one cancelled
    bool clipboardCleared = false;
    int clipboardWidth = -1, clipboardHeight = -1;
    std::vector<Pixel> clipboardPixels;
    bool failClipboard = false;
    bool failFileDialog = false;
    bool failOpenExternal = false;
    // Runs while a modal window is "open" (e.g. advance the virtual clock).
    std::function<void(ModalWindow)> whileModal;
    // The error dialog; when set, each showing is recorded in `boxes` too,
    // with the dialog's text and caption.
    const FrmError* errorForm = nullptr;

    void messageBox(const std::string& text, const std::string& caption) override {
        boxes.push_back({text, caption});
    }
    void showModal(ModalWindow w) override {
        modals.push_back(w);
        if (w == ModalWindow::Error && errorForm) boxes.push_back({errorForm->txtError, errorForm->caption});
        if (whileModal) whileModal(w);
    }
    std::optional<std::string> openFileDialog(const std::string& title, const std::string& filter) override {
        if (failFileDialog) RAISE_ERROR("Cannot open the dialog");
        fileDialogs.emplace_back(title, filter);
        return std::nullopt;
    }
    void openExternal(const std::string& target) override {
        if (failOpenExternal) RAISE_ERROR("No program handles the link");
        opened.push_back(target);
    }
    void clipboardClear() override {
        if (failClipboard) RAISE_ERROR("Cannot open clipboard");
        clipboardCleared = true;
        clipboardWidth = clipboardHeight = -1;
        clipboardPixels.clear();
    }
    void clipboardSetImage(const FrameSlot& slot) override;
};

struct FakeSettings : SettingsPort {
    std::map<std::string, std::string> values;
    std::vector<std::pair<std::string, std::string>> writes;
    std::string GetConfigValue(const std::string& key) override {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second.substr(0, 999);
    }
    void SetConfigValue(const std::string& key, const std::string& value) override {
        values[key] = value;
        writes.emplace_back(key, value);
    }
};

// The client area as a plain picture the test paints.
struct FakeClientArea : ClientAreaSource {
    int width = 1000, height = 800;
    std::vector<Pixel> pixels = std::vector<Pixel>(static_cast<size_t>(1000) * 800, 0);

    void fill(std::function<Pixel(int x, int y)> f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) pixels[static_cast<size_t>(y) * width + x] = f(x, y);
    }
    void lockWindowUpdate(bool) override {}
    void copyTile(FrameSlot& slot, int dx, int dy, int w, int h, int sx, int sy) override;
};

// The real window as a record: frame sizes are set by the test.
struct FakeView : FormView {
    int dpi = 96;
    NonClientSize nonClient{8, 46};  // borders, caption and menu bar
    ClientSize largestClient{};      // the screen's limit, none by default
    bool kept = false;               // the window manager keeps its own size
    WindowState state = WindowState::Normal;
    std::string windowCaption;
    std::vector<std::pair<int, int>> clientSizes;
    std::vector<Ctl> focus;
    bool unloadRequested = false;

    void controlChanged(const Control&, Prop) override {}
    int dotsPerInch() const override { return dpi; }
    NonClientSize nonClientSize() const override { return nonClient; }
    void setClientSize(int w, int h) override { clientSizes.emplace_back(w, h); }
    ClientSize largestClientSize() const override { return largestClient; }
    bool sizeKept() const override { return kept; }
    WindowState windowState() const override { return state; }
    void setWindowState(WindowState s) override { state = s; }
    void setCaption(const std::string& c) override { windowCaption = c; }
    void setFocus(Ctl c) override;
    std::function<void()> onShowBeforeOpening;
    void showBeforeOpening() override {
        if (onShowBeforeOpening) onShowBeforeOpening();
    }
    void unload() override { unloadRequested = true; }
};

}  // namespace velmora::testing

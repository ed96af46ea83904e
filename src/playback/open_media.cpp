// Opening a video: from the command line, File > Open and a drop.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/frm_main.h"
#include "support/convert.h"
#include "support/errors.h"

namespace velmora {

void FrmMain::OpenMedia(const std::string& path) {
    // The player's open runs the event loop, which may bring a drop or
    // another request: it waits until this open is over, the latest one wins.
    if (opening_) {
        pendingOpen_ = path;
        return;
    }
    opening_ = true;
    openMedia(path);
    opening_ = false;
    if (pendingOpen_) {
        const std::string next = std::move(*pendingOpen_);
        pendingOpen_.reset();
        OpenMedia(next);
    }
}

void FrmMain::openMedia(const std::string& path) {
    trap("OpenMedia: ", [&] {
        // Quotes around a path go; a file whose name holds quotes of its
        // own (it's "the" clip.mp4) opens under its name.
        std::string unquoted = path;
        std::error_code exists;
        if (!std::filesystem::exists(path, exists)) std::erase(unquoted, '"');
        // The player reads "-" as standard input and "x://..." as a URL: it
        // is given the file's absolute path.
        if (!unquoted.empty() && unquoted.front() != '/') {
            std::error_code ec;
            const auto absolute = std::filesystem::absolute(unquoted, ec);
            if (!ec) unquoted = absolute.string();
        }
        player_.setFileName(unquoted);
        capturedSinceOpen_ = 0;  // what the ring holds is of the video before
        if (player_.playState() == play_state::kNoMedia) {
            setCaption(std::string(kAppTitle) + " " + versionNumber());
            desktop_.messageBox(player_.errorDescription() + "\r\n" + path, kAppTitle);
            return;
        }
        // The player sizes itself to the new video.
        oMediaPlayer.setWidth(player_.naturalWidth());
        oMediaPlayer.setHeight(player_.naturalHeight());
        mlPlayerHeight = toInt32(oMediaPlayer.height());
        mlPlayerWidth = toInt32(oMediaPlayer.width());
        if (mnuZoom100.checked()) mnuZoom100_Click();
        if (mnuZoom200.checked()) mnuZoom200_Click();
        if (mnuZoomFit.checked()) mnuZoomFit_Click();
        setCaption(std::string(kAppTitle) + " - " + player_.fileName());
        setPlayButton(1);
        Form_Resize();
    });
}

void FrmMain::mnuFileOpen_Click() {
    endSilently([&] {
        PauseVideo();
        const auto file = desktop_.openFileDialog("Open Video File", kOpenFileFilter);
        if (!file) return;  // cancelled: nothing to open
        OpenMedia(*file);
    });
}

void FrmMain::Form_OLEDragDrop(const std::vector<std::string>& files) {
    trap("Form_OLEDragDrop: ", [&] {
        if (files.empty()) RAISE_ERROR("The dropped item is not a file");
        OpenMedia(files.front());
    });
}

}  // namespace velmora

// Opening a video: from the command line, File > Open and a drop.
#include <algorithm>

#include "app/frm_main.h"
#include "support/convert.h"
#include "support/errors.h"

namespace velmora {

void FrmMain::OpenMedia(const std::string& path) {
    trap("OpenMedia: ", [&] {
        std::string unquoted = path;
        std::erase(unquoted, '"');
        player_.setFileName(unquoted);
        capturedSinceOpen_ = 0;  // what the ring holds is of the video before
        if (player_.playState() == play_state::kNoMedia) {
            setCaption(std::string(kAppTitle) + " " + std::to_string(kVersionMajor) + "." +
                       std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision));
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

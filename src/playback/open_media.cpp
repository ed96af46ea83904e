// Opening a video, a stream or a camera: from the command line, the File menu and a drop.
#include "app/frm_main.h"
#include "base/convert.h"
#include "base/errors.h"

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
        const std::string idleCaption = std::string(kAppTitle) + " " + versionNumber();
        // A name that opens nothing, or a camera that cannot be opened now,
        // leaves what plays as it is.
        const auto refuse = [&](const std::string& why) {
            if (player_.playState() == play_state::kNoMedia) setCaption(idleCaption);
            desktop_.messageBox(why + "\r\n" + path, kAppTitle);
        };
        const SourceChoice choice = classifySource(path);
        if (!choice.ok()) return refuse(choice.refusal);
        const MediaSource& source = choice.source;
        std::string cameraName;
        if (!source.live()) {
            player_.setFileName(source.location);
        } else {
            std::vector<PlayerOption> options;
            std::string problem = prepareLive(source, options, cameraName);
            if (!problem.empty()) return refuse(problem);
            // A stream is waited for up to its timeout: meanwhile the window
            // is on the screen (also at start) and says what it waits for.
            const std::string shownCaption = caption();
            setCaption(std::string(kAppTitle) + " - " + sourceCaption(source, cameraName));
            if (view_) view_->showBeforeOpening();
            player_.setLiveDelay(liveDelaySetting());
            if (!player_.setLiveSource(source, options)) {
                setCaption(shownCaption);
                return refuse("This player cannot play streams or cameras.");
            }
        }
        capturedSinceOpen_ = 0;  // what the ring holds is of the video before
        if (player_.playState() == play_state::kNoMedia) {
            setCaption(idleCaption);
            desktop_.messageBox(player_.errorDescription() + "\r\n" + path, kAppTitle);
            return;
        }
        fitPlayerToVideo();
        setCaption(std::string(kAppTitle) + " - " +
                   (source.live() ? sourceCaption(source, cameraName) : player_.fileName()));
        setPlayButton(1);
        Form_Resize();
    });
}

void FrmMain::fitPlayerToVideo() {
    // The player sizes itself to the video, at the zoom chosen.
    oMediaPlayer.setWidth(player_.naturalWidth());
    oMediaPlayer.setHeight(player_.naturalHeight());
    mlPlayerHeight = toInt32(oMediaPlayer.height());
    mlPlayerWidth = toInt32(oMediaPlayer.width());
    if (mnuZoom100.checked()) mnuZoom100_Click();
    if (mnuZoom200.checked()) mnuZoom200_Click();
    if (mnuZoomFit.checked()) mnuZoomFit_Click();
}

void FrmMain::oMediaPlayer_VideoSizeChange() {
    trap("oMediaPlayer_VideoSizeChange: ", [&] {
        if (player_.playState() == play_state::kNoMedia) return;
        fitPlayerToVideo();
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

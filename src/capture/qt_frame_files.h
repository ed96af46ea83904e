// Frames as files on Qt: the save dialogs, the picture written through a
// temporary file, the clip encoded on a worker thread behind a progress
// dialog.
#pragma once

#include <QPointer>
#include <QWidget>

#include "capture/frame_files.h"

namespace velmora {

class QtFrameFiles : public FrameFilesPort {
public:
    // Dialogs are centred on `parent` (the main window).
    explicit QtFrameFiles(QWidget* parent = nullptr) : parent_(parent) {}

    std::string picturesFolder() override;
    bool folderWritable(const std::string& folder) override;
    std::optional<std::string> saveFrameDialog(const std::string& proposedPath) override;
    std::optional<ExportChoice> exportFramesDialog(const std::string& proposedPath) override;
    std::string savePicture(const FrameSlot& picture, const std::string& path) override;
    // The window stays responsive meanwhile; a progress dialog with Cancel
    // shows when the export takes longer than half a second.
    ClipResult exportClip(ClipJob job) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace velmora

// Files dropped on the main window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include "app/frm_main.h"
#include "app/main_window.h"

namespace velmora {

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    // Anything may be dropped; the procedure tells the user what it cannot use.
    event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    if (const QMimeData* mime = event->mimeData(); mime && mime->hasUrls()) {
        // Files by their names; a stream's address as it is written.
        for (const QUrl& url : mime->urls())
            files.push_back(url.isLocalFile() ? QFile::encodeName(url.toLocalFile()).toStdString()
                                              : url.toString(QUrl::FullyEncoded).toStdString());
    }
    event->acceptProposedAction();
    // Opened once the drop is over, so that the file manager is not kept
    // waiting while the video opens or a message is read.
    QMetaObject::invokeMethod(
        this, [this, files] {
            if (frm_) frm_->Form_OLEDragDrop(files);
        },
        Qt::QueuedConnection);
}

}  // namespace velmora

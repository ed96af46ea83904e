#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QImage>
#include <QImageWriter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "capture/qt_frame_files.h"
#include "export/clip_encoder.h"

namespace velmora {

namespace {

QString fromLocal(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string toLocal(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

std::string QtFrameFiles::picturesFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    return toLocal(folder);
}

bool QtFrameFiles::folderWritable(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::optional<std::string> QtFrameFiles::saveFrameDialog(const std::string& proposedPath) {
    QFileDialog dialog(parent_, QStringLiteral("Save Frame"), fromLocal(proposedPath),
                       QStringLiteral("PNG picture (*.png);;JPEG picture (*.jpg *.jpeg)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.startsWith(QLatin1String("JPEG")) ? QStringLiteral("jpg")
                                                                         : QStringLiteral("png"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toLocal(dialog.selectedFiles().front());
}

std::optional<ExportChoice> QtFrameFiles::exportFramesDialog(const std::string& proposedPath) {
    QFileDialog dialog(parent_, QStringLiteral("Export Frames"), fromLocal(proposedPath),
                       QStringLiteral("MP4 video (*.mp4);;Animated GIF (*.gif);;WebP animation (*.webp)"));
    // Qt's own dialog, so that it can carry the check box.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("mp4"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const QString suffix = filter.startsWith(QLatin1String("Animated GIF")) ? QStringLiteral("gif")
                               : filter.startsWith(QLatin1String("WebP"))       ? QStringLiteral("webp")
                                                                                : QStringLiteral("mp4");
        dialog.setDefaultSuffix(suffix);
    });
    auto* slow = new QCheckBox(QStringLiteral("slow motion \u00d74"), &dialog);
    slow->setObjectName(QStringLiteral("chkSlowMotion"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(slow, grid->rowCount(), 0, 1, grid->columnCount());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return ExportChoice{toLocal(dialog.selectedFiles().front()), slow->isChecked()};
}

std::string QtFrameFiles::savePicture(const FrameSlot& picture, const std::string& path) {
    if (!picture.pixels || picture.width <= 0 || picture.height <= 0) return "there is no picture to save";
    const QImage image(reinterpret_cast<const uchar*>(picture.pixels.get()), picture.width, picture.height,
                       picture.stride(), QImage::Format_RGB32);
    const QString name = fromLocal(path);
    const QString suffix = QFileInfo(name).suffix().toLower();
    const bool jpeg = suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
    // Written beside the target and renamed over it when complete.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
    QImageWriter writer(&file, jpeg ? "jpeg" : "png");
    if (jpeg) writer.setQuality(95);
    if (!writer.write(image)) {
        const QString reason =
            file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        file.cancelWriting();
        return reason.toStdString();
    }
    if (!file.commit()) return file.errorString().toStdString();
    return {};
}

ClipResult QtFrameFiles::exportClip(ClipJob job) {
    struct Shared {
        std::atomic<int> done{0};
        std::atomic<bool> cancel{false};
        std::atomic<bool> finished{false};
        ClipResult result;
    };
    const auto shared = std::make_shared<Shared>();
    const int total = static_cast<int>(job.frames.size());

    // The worker owns the frames; the window goes on with its own.
    std::thread worker([shared, job = std::move(job)] {
        shared->result = encodeClip(job, [&shared = *shared](int done) {
            shared.done = done;
            return !shared.cancel.load();
        });
        shared->finished = true;
    });

    QProgressDialog progress(QStringLiteral("Exporting frames..."), QStringLiteral("Cancel"), 0, total,
                             parent_);
    progress.setWindowTitle(QStringLiteral("Export Frames"));
    progress.setObjectName(QStringLiteral("dlgExportProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QObject::connect(&progress, &QProgressDialog::canceled, [shared] { shared->cancel = true; });

    // Closing the window (before the progress shows, it is not blocked)
    // cancels as the Cancel button does, and so does the application
    // quitting, which ends this loop early: the program ends without
    // waiting for the rest of the encode.
    const bool windowShown = parent_ && parent_->isVisible();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (shared->finished) {
            loop.quit();
            return;
        }
        if (windowShown && (!parent_ || !parent_->isVisible())) shared->cancel = true;
        if (!shared->cancel) progress.setValue(shared->done);
    });
    poll.start(20);
    progress.setValue(0);
    loop.exec();
    if (!shared->finished) shared->cancel = true;
    worker.join();
    return shared->result;
}

}  // namespace velmora

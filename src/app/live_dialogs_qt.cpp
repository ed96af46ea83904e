#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt_live_dialogs.h"
#include "base/qt_text.h"
#include "playback/live_state.h"

namespace velmora {

namespace {

QDialogButtonBox* okCancel(QDialog& dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

std::optional<std::string> QtLiveDialogs::askStreamAddress(const std::string& last) {
    QDialog dialog(parent_);
    dialog.setObjectName(QStringLiteral("dlgOpenStream"));
    dialog.setWindowTitle(QStringLiteral("Open Stream"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QStringLiteral("&Address of the stream (http, https, rtsp, rtsps, rtmp, rtmps, srt, "
                                            "udp or rtp):"),
                             &dialog);
    auto* address = new QLineEdit(fromUtf8(last), &dialog);
    address->setObjectName(QStringLiteral("txtStreamAddress"));
    address->setPlaceholderText(QStringLiteral("http://192.168.1.20:8080/live.ts"));
    address->setMinimumWidth(420);
    address->selectAll();
    label->setBuddy(address);
    auto* buttons = okCancel(dialog);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(!address->text().trimmed().isEmpty());
    QObject::connect(address, &QLineEdit::textChanged, ok,
                     [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    layout->addWidget(label);
    layout->addWidget(address);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return address->text().toStdString();
}

std::optional<LiveDialogsPort::CameraChoice> QtLiveDialogs::askCamera(const std::vector<Camera>& cameras,
                                                                       const CameraChoice& selected) {
    QDialog dialog(parent_);
    dialog.setObjectName(QStringLiteral("dlgOpenCamera"));
    dialog.setWindowTitle(QStringLiteral("Open Camera"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("lstCameras"));
    list->setMinimumWidth(460);
    for (const Camera& camera : cameras) {
        std::string text = camera.name + "  (" + camera.node + ")";
        if (camera.busy) text += "  - in use by another program";
        text += "\n    " + modesSummary(camera.modes);
        list->addItem(fromUtf8(text));
    }
    auto* modeLabel = new QLabel(QStringLiteral("&Mode:"), &dialog);
    auto* modes = new QComboBox(&dialog);
    modes->setObjectName(QStringLiteral("cboCameraMode"));
    modeLabel->setBuddy(modes);

    // The modes of the camera selected, best first: the best as the device
    // offers it pre-selected, or the one chosen before.
    std::vector<CameraMode> shown;
    const auto showModes = [&](int row, const CameraMode* wanted) {
        modes->clear();
        shown.clear();
        if (row < 0 || row >= static_cast<int>(cameras.size())) return;
        shown = cameras[static_cast<std::size_t>(row)].modes;
        std::stable_sort(shown.begin(), shown.end(), [](const CameraMode& a, const CameraMode& b) {
            const long long areaA = 1ll * a.width * a.height, areaB = 1ll * b.width * b.height;
            if (a.compressed() != b.compressed()) return a.compressed();
            if (areaA != areaB) return areaA > areaB;
            return a.fps() > b.fps();
        });
        for (const CameraMode& m : shown) modes->addItem(fromUtf8(modeText(m)));
        const std::optional<CameraMode> best = chooseMode(shown);
        const CameraMode* pick = wanted ? wanted : best ? &*best : nullptr;
        const auto at = pick ? std::find(shown.begin(), shown.end(), *pick) : shown.end();
        if (at != shown.end()) modes->setCurrentIndex(static_cast<int>(at - shown.begin()));
        modes->setEnabled(!shown.empty());
    };
    QObject::connect(list, &QListWidget::currentRowChanged, modes, [&](int row) { showModes(row, nullptr); });
    const int first = selected.camera < cameras.size() ? static_cast<int>(selected.camera) : 0;
    {
        const QSignalBlocker block(list);
        list->setCurrentRow(first);
    }
    showModes(first, &selected.mode);

    auto* buttons = okCancel(dialog);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* listLabel = new QLabel(QStringLiteral("&Cameras:"), &dialog);
    listLabel->setBuddy(list);
    layout->addWidget(listLabel);
    layout->addWidget(list);
    layout->addWidget(modeLabel);
    layout->addWidget(modes);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
    CameraChoice choice{static_cast<std::size_t>(list->currentRow()), {}};
    if (modes->currentIndex() >= 0 && modes->currentIndex() < static_cast<int>(shown.size()))
        choice.mode = shown[static_cast<std::size_t>(modes->currentIndex())];
    return choice;
}

std::optional<int> QtLiveDialogs::askDelay(int seconds, bool liveOpen) {
    QDialog dialog(parent_);
    dialog.setObjectName(QStringLiteral("dlgDelay"));
    dialog.setWindowTitle(QStringLiteral("Delay"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QStringLiteral("&Play live sources this many seconds behind live (0 = off):"), &dialog);
    auto* spin = new QSpinBox(&dialog);
    spin->setObjectName(QStringLiteral("spnDelay"));
    spin->setRange(0, kMaxLiveDelay);
    spin->setSuffix(QStringLiteral(" s"));
    spin->setValue(std::clamp(seconds, 0, kMaxLiveDelay));
    spin->selectAll();
    label->setBuddy(spin);
    layout->addWidget(label);
    layout->addWidget(spin);
    if (!liveOpen) {
        auto* note = new QLabel(QStringLiteral("The delay applies only to live sources (streams and cameras)."),
                                &dialog);
        note->setObjectName(QStringLiteral("lblDelayNote"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    // Close keeps the choice; Esc and the close box drop it.
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::AcceptRole);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return spin->value();
}

}  // namespace velmora

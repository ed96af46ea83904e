#include "support/qt_desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <cstdio>

#include "capture/frame_slot.h"
#include "support/about_box.h"
#include "support/qt_dialogs.h"
#include "base/qt_text.h"

namespace velmora {

namespace {

// A plain modal box with one OK button that Enter and Esc both close.
void okBox(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.setEscapeButton(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

}  // namespace

QString qtFileFilter(const std::string& filter) {
    const QStringList parts = fromUtf8(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (QString p : parts[i + 1].split(QLatin1Char(';'))) {
            p = p.trimmed();
            if (p.isEmpty() || p == QLatin1String("\"")) continue;
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
            patterns << p;
        }
        if (patterns.isEmpty()) continue;
        entries << parts[i].trimmed() + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries.join(QLatin1String(";;"));
}

QWidget* QtDesktop::dialogParent() const {
    if (parent_) return parent_.data();
    return QApplication::activeWindow();
}

void QtDesktop::messageBox(const std::string& text, const std::string& caption) {
    // Also on standard error, so that what went wrong is in a session's log.
    const std::string line = "[message] " + caption + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    okBox(dialogParent(), fromUtf8(caption), fromUtf8(text));
}

void QtDesktop::showModal(ModalWindow window) {
    switch (window) {
        case ModalWindow::About: {
            if (!timers_) break;
            AboutBox box(dialogParent(), *timers_, *this, programFolder_);
            box.showModal();
            break;
        }
        case ModalWindow::Options:
            if (options_) execOptionsDialog(*options_, dialogParent());
            break;
        case ModalWindow::Error:
            if (error_) execErrorDialog(*error_, dialogParent());
            break;
    }
}

std::optional<std::string> QtDesktop::openFileDialog(const std::string& title, const std::string& filter) {
    // The names are shown as they are; the patterns Qt needs stay hidden.
    const QString path = QFileDialog::getOpenFileName(dialogParent(), fromUtf8(title), QString(), qtFileFilter(filter),
                                                      nullptr, QFileDialog::HideNameFilterDetails);
    if (path.isEmpty()) return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

void QtDesktop::openExternal(const std::string& target) {
    // One argument, no shell: the target is never interpreted.
    QProcess::startDetached(QStringLiteral("xdg-open"), {fromUtf8(target)});
}

void QtDesktop::clipboardClear() { QGuiApplication::clipboard()->clear(); }

void QtDesktop::clipboardSetImage(const FrameSlot& slot) {
    if (!slot.pixels || !slot.settled() || slot.width <= 0 || slot.height <= 0) {
        QGuiApplication::clipboard()->setImage(QImage());
        return;
    }
    const QImage wrapped(reinterpret_cast<const uchar*>(slot.pixels.get()), slot.width, slot.height, slot.stride(),
                         QImage::Format_RGB32);
    // The clipboard keeps its own copy: the slot is overwritten by the next capture.
    QGuiApplication::clipboard()->setImage(wrapped.copy());
}

}  // namespace velmora

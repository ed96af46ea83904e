#include "support/qt_dialogs.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <array>
#include <functional>

#include "settings/frm_options.h"
#include "support/frm_error.h"

namespace velmora {

namespace {

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Twips of the dialogs' design to pixels (15 twips per pixel at 96 dpi).
QRect twips(int left, int top, int width, int height) {
    const auto px = [](int t) { return (t + 7) / 15; };
    return QRect(px(left), px(top), px(width), px(height));
}

// A fixed-size dialog without minimise and maximise buttons, centred over
// its parent and kept out of the task bar by it.  Esc presses the Close
// button (Enter presses it as the default button); the close box runs
// `onCloseBox` instead.
class FixedDialog : public QDialog {
public:
    FixedDialog(QWidget* parent, QSize client) : QDialog(parent) {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                       Qt::MSWindowsFixedSizeDialogHint);
        setFixedSize(client);
        setModal(true);
        // The controls' text as designed: 8 point, like the main window's.
        QFont f = font();
        f.setPointSize(8);
        setFont(f);
    }

    QPushButton* closeButton = nullptr;
    std::function<void()> onCloseBox;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            closeButton->click();
            return;
        }
        QDialog::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (isVisible() && onCloseBox) onCloseBox();
        QDialog::closeEvent(event);
    }
};

void centreOver(QDialog& dlg, QWidget* parent) {
    if (!parent) return;
    const QWidget* top = parent->window();
    const QRect frame = top->frameGeometry();
    QRect r(QPoint(), dlg.frameGeometry().size());
    r.moveCenter(frame.center());
    dlg.move(r.topLeft());
}

}  // namespace

void execOptionsDialog(FrmOptions& model, QWidget* parent) {
    FixedDialog dlg(parent, twips(0, 0, 5220, 1935).size());
    dlg.setObjectName(QStringLiteral("frmOptions"));
    dlg.setWindowTitle(QStringLiteral("Options"));

    auto* frame = new QGroupBox(QStringLiteral("Frames saved every:"), &dlg);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setGeometry(twips(120, 240, 4995, 795));
    static constexpr std::array<int, 4> kLefts{480, 1560, 2580, 3600};
    std::array<QRadioButton*, 4> options{};
    for (int i = 0; i < 4; ++i) {
        auto* opt = new QRadioButton(QString::fromUtf8(FrmOptions::kCaptions[static_cast<std::size_t>(i)]), frame);
        opt->setObjectName(QStringLiteral("optFreezeFrameTime"));
        opt->setProperty("index", i);
        QRect r = twips(kLefts[static_cast<std::size_t>(i)], 360, 915, 255);
        // A wider platform font may need the room up to the next button.
        r.setWidth(std::max(r.width(), std::min(opt->sizeHint().width(), twips(0, 0, 1020, 0).width())));
        opt->setGeometry(r);
        opt->setChecked(model.selectedIndex() == i);
        // The option buttons are the model's choice.
        QObject::connect(opt, &QRadioButton::toggled, &dlg, [&model, i](bool on) {
            if (on) model.selectOption(i);
        });
        options[static_cast<std::size_t>(i)] = opt;
    }

    auto* ok = new QPushButton(QStringLiteral("Close"), &dlg);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setGeometry(twips(3900, 1380, 1215, 375));
    ok->setDefault(true);
    dlg.closeButton = ok;
    QObject::connect(ok, &QPushButton::clicked, &dlg, [&dlg, &model] {
        model.OKButton_Click();
        dlg.accept();
    });
    // Closed any other way the dialog is unloaded and the choice dropped.
    dlg.onCloseBox = [&model] { model.unload(); };

    options[static_cast<std::size_t>(model.selectedIndex())]->setFocus();
    dlg.adjustSize();
    centreOver(dlg, parent);
    dlg.exec();
}

void execErrorDialog(FrmError& model, QWidget* parent) {
    FixedDialog dlg(parent, twips(0, 0, 5190, 1875).size());
    dlg.setObjectName(QStringLiteral("frmError"));
    dlg.setWindowTitle(fromUtf8(model.caption));

    auto* text = new QPlainTextEdit(fromUtf8(model.txtError), &dlg);
    text->setObjectName(QStringLiteral("txtError"));
    text->setGeometry(twips(120, 120, 4935, 1155));
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPointSizeF(9.75);
    text->setFont(f);

    auto* ok = new QPushButton(QString::fromUtf8(FrmError::kCloseCaption), &dlg);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setGeometry(twips(1122, 1440, 1395, 375));
    ok->setDefault(true);
    auto* email = new QPushButton(QString::fromUtf8(FrmError::kEmailCaption), &dlg);
    email->setObjectName(QStringLiteral("cmdEmail"));
    email->setGeometry(twips(2674, 1440, 1395, 375));
    email->setToolTip(QString::fromUtf8(FrmError::kEmailToolTip));
    dlg.closeButton = ok;
    QWidget::setTabOrder(ok, email);
    QWidget::setTabOrder(email, text);

    QObject::connect(ok, &QPushButton::clicked, &dlg, [&dlg, &model] {
        model.OKButton_Click();
        dlg.accept();
    });
    QObject::connect(email, &QPushButton::clicked, &dlg, [&dlg, &model] {
        model.cmdEmail_Click();
        dlg.accept();
    });
    dlg.onCloseBox = [&model] { model.unload(); };

    ok->setFocus();
    centreOver(dlg, parent);
    dlg.exec();
}

}  // namespace velmora

// The About box on Qt Widgets: builds the controls as designed, passes their
// events to FrmAbout and shows what it changes.
#pragma once

#include <QDialog>
#include <QImage>
#include <memory>
#include <string>

#include "support/frm_about.h"

class QLabel;
class QPushButton;

namespace velmora {

// A white mouse, 32 x 32, with its left or its right button blue.
QImage mouseIcon(bool leftButtonBlue);

class AboutBox : public QDialog, public AboutView {
public:
    AboutBox(QWidget* parent, TimerHost& timers, DesktopPort& desktop, const std::string& programFolder);
    ~AboutBox() override;

    FrmAbout& form() { return *frm_; }

    // Runs Form_Load, then shows the box modally; returns when it is closed.
    void showModal();
    // Runs Form_Load without showing the box (for tests of the model).
    void load();

    QLabel* label(const char* name) const;
    QPushButton* okButton() const { return cmdOK_; }

    // AboutView
    void loadFramePicture(const std::string& path) override;
    void aboutChanged() override;
    void unload() override;
    void focusForm() override;

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QLabel* addLabel(const char* name, const char* text, QRect rect, bool bold);

    std::unique_ptr<FrmAbout> frm_;
    QLabel* oLeftMouse_ = nullptr;
    QLabel* oRightMouse_ = nullptr;
    QLabel* oButtonImage_ = nullptr;
    QLabel* oFrame_ = nullptr;
    QLabel* lblDisclaimer_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
};

}  // namespace velmora

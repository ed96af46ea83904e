// The About box on Qt with the real demo pictures, and the FAQ page handed to
// xdg-open.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "app/images.h"
#include "support/about_box.h"
#include "support/event_loop.h"
#include "support/fake_xdg_open.h"
#include "support/qt_desktop.h"
#include "support/window_on_fakes.h"

namespace velmora {
namespace {

using testing::FakeDesktop;

// The build's program folder, where the demo pictures and the FAQ page are.
std::string programFolderOfBuild() {
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin")).canonicalPath().toStdString();
}

QImage shownImage(const QLabel* l) { return l->pixmap().toImage().convertToFormat(QImage::Format_RGB32); }

TEST(AboutBoxQt, ShowsTheDemoPicturesAndTheGestureAsItsModelChanges) {
    VirtualClock clock;
    FakeDesktop desktop;
    AboutBox box(nullptr, clock, desktop, programFolderOfBuild());
    box.load();
    ASSERT_TRUE(desktop.boxes.empty()) << desktop.boxes[0].text;

    // Twips round to the nearest pixel (4568 / 15 = 304.53: 305, not 304).
    EXPECT_EQ(box.label("lblDisclaimer")->geometry(), QRect(16, 305, 142, 19));
    const QLabel* frame = box.label("oFrame");
    const QLabel* button = box.label("oButtonImage");
    const QLabel* left = box.label("oLeftMouse");
    const QLabel* right = box.label("oRightMouse");
    const QImage frame0 = shownImage(frame);
    EXPECT_EQ(shownImage(button), reviewImage(kReviewIdle).convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(left->isHidden());
    EXPECT_TRUE(right->isHidden());

    clock.advance(2000);  // rest, then frame 1 forward
    EXPECT_NE(shownImage(frame), frame0);
    EXPECT_EQ(shownImage(button), reviewImage(kReviewForward).convertToFormat(QImage::Format_RGB32));
    EXPECT_FALSE(right->isHidden());
    EXPECT_TRUE(left->isHidden());

    // The six pictures differ from one another: a motion, not one still.
    std::vector<QImage> seen;
    for (int n = 0; n <= 5; ++n) {
        const QImage img(QString::fromStdString(programFolderOfBuild()) + QStringLiteral("/%1.gif").arg(n));
        ASSERT_EQ(img.size(), QSize(120, 125)) << n;
        for (const QImage& other : seen) EXPECT_NE(img, other) << n;
        seen.push_back(img);
    }
}

TEST(AboutBoxQt, EveryKeyClosesTheBoxWhereverTheFocusIs) {
    VirtualClock clock;
    FakeDesktop desktop;
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_A, Qt::Key_F5}) {
        for (bool focusOnOk : {false, true}) {
            AboutBox box(nullptr, clock, desktop, programFolderOfBuild());
            box.load();
            box.show();
            box.activateWindow();
            ASSERT_TRUE(testing::waitUntil([&] { return box.isActiveWindow(); }));
            if (focusOnOk) box.okButton()->setFocus();
            QWidget* target = QApplication::focusWidget();
            ASSERT_EQ(target, focusOnOk ? static_cast<QWidget*>(box.okButton()) : static_cast<QWidget*>(&box));
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(target, &release);
            EXPECT_FALSE(box.isVisible()) << "key " << key << (focusOnOk ? " on OK" : " on the box");
            EXPECT_FALSE(box.form().Timer1.enabled());
        }
    }
}

TEST(HelpMenuQt, FrequentlyAskedQuestionsHandsThePageToXdgOpenAsOneArgument) {
    testing::FakeXdgOpen xdgOpen;
    testing::WindowOnFakes<QtDesktop> w;
    w.frm->appPath = programFolderOfBuild();
    w.window->findChild<QAction*>(QStringLiteral("mnuHelpContent"))->trigger();
    EXPECT_EQ(xdgOpen.arguments(),
              QStringList{QString::fromStdString(w.frm->appPath) + QStringLiteral("/Velmora FAQ.htm")});
}

}  // namespace
}  // namespace velmora

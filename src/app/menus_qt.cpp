// The main window's menu bar: its entries, shortcuts and their procedures.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/frm_main.h"
#include "app/main_window.h"

namespace velmora {

QAction* MainWindow::addEntry(QMenu* menu, const char* name, const char* caption, std::function<void()> handler,
                              QKeySequence shortcut) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromUtf8(name));
    if (!shortcut.isEmpty()) {
        a->setShortcut(shortcut);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setAutoRepeat(false);  // a held F7 plays or pauses once
    }
    connect(a, &QAction::triggered, this, [this, handler = std::move(handler)] {
        if (frm_ && handler) handler();
    });
    return a;
}

void MainWindow::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    // Menus that are not given a name of their own stay inert.
    const auto none = std::function<void()>();

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    addEntry(file, "mnuFileOpen", "&Open Video...", [this] { frm_->mnuFileOpen_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_O));
    addEntry(file, "mnuFileOpenStream", "Open &Stream...", [this] { frm_->mnuFileOpenStream_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_N));
    addEntry(file, "mnuFileOpenCamera", "Open &Camera...", [this] { frm_->mnuFileOpenCamera_Click(); });
    addEntry(file, "mnuFileSaveFrame", "Save &Frame As...", [this] { frm_->mnuFileSaveFrame_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_S));
    addEntry(file, "mnuFileExportFrames", "&Export Frames...", [this] { frm_->mnuFileExportFrames_Click(); },
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    file->addSeparator()->setObjectName(QStringLiteral("S1"));
    addEntry(file, "mnuFileExit", "E&xit", [this] { frm_->mnuFileExit_Click(); });

    QMenu* tools = bar->addMenu(QStringLiteral("&Edit"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    addEntry(tools, "mnuToolsCopy", "&Copy Image", [this] { frm_->mnuToolsCopy_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_C));
    tools->addSeparator()->setObjectName(QStringLiteral("s5"));
    addEntry(tools, "mnuToolsOptions", "&Options...", [this] { frm_->mnuToolsOptions_Click(); });

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    addEntry(view, "mnuViewPrev", "P&revious Frame     F5", [this] { frm_->mnuViewPrev_Click(); });
    addEntry(view, "mnuViewNext", "&Next Frame           F6", [this] { frm_->mnuViewNext_Click(); });
    view->addSeparator()->setObjectName(QStringLiteral("s3"));
    addEntry(view, "mnuViewPlay", "&Play / Pause ", [this] { frm_->mnuViewPlay_Click(); }, QKeySequence(Qt::Key_F7));
    view->addSeparator()->setObjectName(QStringLiteral("s6"));
    addEntry(view, "mnuToolsBack", "&Back 6 seconds     F4", [this] { frm_->mnuToolsBack_Click(); });
    addEntry(view, "mnuViewGoLive", "Go &Live", [this] { frm_->mnuViewGoLive_Click(); }, QKeySequence(Qt::Key_F8));
    addEntry(view, "mnuViewDelay", "&Delay...", [this] { frm_->mnuViewDelay_Click(); },
             QKeySequence(Qt::CTRL | Qt::Key_D));

    QMenu* zoom = bar->addMenu(QStringLiteral("&Zoom"));
    zoom->setObjectName(QStringLiteral("mnuViewZoom"));
    // Check marks are the procedures' business: after each command the
    // entries show the model again, whatever Qt toggled.
    zoom100_ = addEntry(zoom, "mnuZoom100", "&100 %", [this] { frm_->mnuZoom100_Click(); syncZoomChecks(); },
                        QKeySequence(Qt::CTRL | Qt::Key_F1));
    zoom200_ = addEntry(zoom, "mnuZoom200", "&200 %", [this] { frm_->mnuZoom200_Click(); syncZoomChecks(); },
                        QKeySequence(Qt::CTRL | Qt::Key_F2));
    zoomFit_ = addEntry(zoom, "mnuZoomFit", "&Fit to Window", [this] { frm_->mnuZoomFit_Click(); syncZoomChecks(); },
                        QKeySequence(Qt::CTRL | Qt::Key_F3));
    for (QAction* a : {zoom100_, zoom200_, zoomFit_}) a->setCheckable(true);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    addEntry(help, "mnuHelpContent", "&Frequently Asked Questions", [this] { frm_->mnuHelpContent_Click(); });
    addEntry(help, "mnuHelpEmail", "&Email Author", [this] { frm_->mnuHelpEmail_Click(); });
    addEntry(help, "mnuHelpAbout", "&About...", [this] { frm_->mnuHelpAbout_Click(); });
}

}  // namespace velmora

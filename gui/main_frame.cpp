#include "gui/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/settings.h"
#include "gui/gui_texts.h"
#include "gui/icons.h"
#include "gui/tarnwick_view.h"

namespace tarnwick::gui {
namespace {

constexpr const char* kPositionSection = "POSITION";
constexpr const char* kRecentSection = "Recent File List";
constexpr unsigned kCmdEditCut = 57635;
constexpr unsigned kCmdNextPane = 57680;
constexpr unsigned kCmdPrevPane = 57681;

// The program's title: the first field of the document string.
QString ProgramTitle() {
    const QString title = GuiText(kStrDocTemplate).section(QLatin1Char('\n'), 0, 0);
    return title.isEmpty() ? GuiText(kStrAppTitle) : title;
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowIcon(ProgramIcon());
    BuildMenus();

    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName(QStringLiteral("toolbar59392"));
    toolbar_->setIconSize(QSize(16, 15));
    toolbar_->setMovable(true);
    toolbar_->setFloatable(true);
    toolbar_->setAllowedAreas(Qt::AllToolBarAreas);
    addToolBar(Qt::TopToolBarArea, toolbar_);
    LoadToolbar(false);
    connect(toolbar_, &QToolBar::visibilityChanged, this,
            [this](bool visible) { actions_.value(kCmdToolbar)->setChecked(visible); });

    BuildStatusBar();
    LoadRecentFileList();
    RebuildRecentEntries();

    // The toolbar follows the document while the program is idle.
    auto* idle = new QTimer(this);
    idle->setInterval(250);
    connect(idle, &QTimer::timeout, this, [this] {
        if (isVisible()) UpdateCommandUI();
    });
    idle->start();
    UpdateTitle();
}

QAction* CMainFrame::MakeAction(unsigned command, unsigned textId) {
    auto* action = new QAction(GuiText(textId), this);
    action->setObjectName(QStringLiteral("cmd%1").arg(command));
    const QString prompt = GuiText(command);
    action->setStatusTip(PromptPart(prompt));
    const QString tip = TipPart(prompt);
    if (!tip.isEmpty()) action->setToolTip(tip);
    const QIcon icon = ToolbarIcon(command);
    if (!icon.isNull()) action->setIcon(icon);
    connect(action, &QAction::triggered, this, [this, command] {
        // A key may fire before the idle update caught up with the document.
        if (IsEnabledNow(command)) RouteCommand(command);
    });
    actions_.insert(command, action);
    return action;
}

void CMainFrame::BuildMenus() {
    fileMenu_ = menuBar()->addMenu(GuiText(kTxtMenuFile));
    fileMenu_->setObjectName(QStringLiteral("menuFile"));
    auto* open = MakeAction(kCmdFileOpen, kTxtMenuOpen);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    auto* save = MakeAction(kCmdFileSave, kTxtMenuSave);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    fileMenu_->addAction(open);
    fileMenu_->addAction(save);
    fileMenu_->addAction(MakeAction(kCmdFileSaveAs, kTxtMenuSaveAs));
    fileMenu_->addSeparator();
    fileMenu_->addAction(MakeAction(kCmdDownload, kTxtMenuDownload));
    fileMenu_->addAction(MakeAction(kCmdUpload, kTxtMenuUpload));
    fileMenu_->addSeparator();
    fileMenu_->addAction(MakeAction(kCmdSettings, kTxtMenuSettings));
    fileMenu_->addAction(MakeAction(kCmdImportCe, kTxtMenuImport));
    fileMenu_->addAction(MakeAction(kCmdExportCe, kTxtMenuExport));
    fileMenu_->addSeparator();
    recentPlaceholder_ = MakeAction(kCmdMruFirst, kTxtMenuRecent);
    recentPlaceholder_->setEnabled(false);
    fileMenu_->addAction(recentPlaceholder_);
    fileMenu_->addSeparator();
    fileMenu_->addAction(MakeAction(kCmdExit, kTxtMenuExit));
    connect(fileMenu_, &QMenu::aboutToShow, this, [this] {
        UpdateCommandUI();
        RebuildRecentEntries();
    });

    auto* viewMenu = menuBar()->addMenu(GuiText(kTxtMenuView));
    viewMenu->setObjectName(QStringLiteral("menuView"));
    auto* toolbarToggle = MakeAction(kCmdToolbar, kTxtMenuToolbar);
    toolbarToggle->setCheckable(true);
    toolbarToggle->setChecked(true);
    viewMenu->addAction(toolbarToggle);

    auto* formatMenu = menuBar()->addMenu(GuiText(kTxtMenuFormat));
    formatMenu->setObjectName(QStringLiteral("menuFormat"));
    formatMenu->addAction(MakeAction(kCmdFont, kTxtMenuFont));

    auto* helpMenu = menuBar()->addMenu(GuiText(kTxtMenuHelp));
    helpMenu->setObjectName(QStringLiteral("menuHelp"));
    helpMenu->addAction(MakeAction(kCmdAbout, kTxtMenuAbout));

    // The framework's own commands of the frame.
    SetHandler(kCmdToolbar, [this] { toolbar_->setVisible(!toolbar_->isVisible()); });
    SetHandler(kCmdExit, [this] { close(); });

    // Edit Cut does nothing in the log; F6 and Shift+F6 move between panes,
    // and the log is the only one.
    auto* cut = new QAction(this);
    cut->setObjectName(QStringLiteral("cmd%1").arg(kCmdEditCut));
    cut->setShortcut(QKeySequence::Cut);
    cut->setShortcutContext(Qt::WindowShortcut);
    addAction(cut);
    actions_.insert(kCmdEditCut, cut);
    connect(cut, &QAction::triggered, this, [this] {
        if (view_) view_->OnEditCut();
    });
    for (unsigned command : {kCmdNextPane, kCmdPrevPane}) {
        auto* pane = new QShortcut(command == kCmdNextPane ? QKeySequence(Qt::Key_F6)
                                                           : QKeySequence(Qt::SHIFT | Qt::Key_F6),
                                   this);
        connect(pane, &QShortcut::activated, this, [this] {
            if (view_) view_->setFocus();
        });
    }
}

void CMainFrame::BuildStatusBar() {
    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("statusbar59393"));
    for (unsigned id : {59137u, 59138u, 59139u}) {
        auto* indicator = new QLabel(GuiText(id), bar);
        indicator->setObjectName(QStringLiteral("indicator%1").arg(id));
        indicator->setEnabled(false);
        bar->addPermanentWidget(indicator);
    }
    setStatusBar(bar);
    // Created and hidden at once; no menu entry shows it again.
    bar->hide();
}

void CMainFrame::SetView(CTarnwickView* view) {
    view_ = view;
    setCentralWidget(view);
}

void CMainFrame::LoadToolbar(bool impex) {
    toolbar_->clear();
    toolbar_->addAction(actions_.value(kCmdFileOpen));
    toolbar_->addAction(actions_.value(kCmdFileSave));
    toolbar_->addSeparator();
    toolbar_->addAction(actions_.value(kCmdDownload));
    if (impex) toolbar_->addAction(actions_.value(kCmdUpload));
    toolbar_->addAction(actions_.value(kCmdSettings));
    toolbar_->setProperty("resource", impex ? 129 : 128);
}

void CMainFrame::SetHandler(unsigned command, std::function<void()> handler) {
    handlers_[command] = std::move(handler);
}

bool CMainFrame::RouteCommand(unsigned command) {
    const auto it = handlers_.find(command);
    if (it == handlers_.end() || !it->second) return false;
    // Copy: a handler may replace handlers while it runs.
    const auto handler = it->second;
    handler();
    UpdateCommandUI();
    return true;
}

bool CMainFrame::IsEnabledNow(unsigned command) {
    UpdateCommandUI();
    QAction* action = actions_.value(command);
    return !action || action->isEnabled();
}

void CMainFrame::UpdateCommandUI() {
    OnUpdateDownload();
    OnUpdateUpload();
    OnUpdateImport();
    OnUpdateExport();
    actions_.value(kCmdFileSave)->setEnabled(state.isSaveEnabled && state.isSaveEnabled());
    actions_.value(kCmdFileSaveAs)->setEnabled(state.isSaveAsEnabled && state.isSaveAsEnabled());
    actions_.value(kCmdToolbar)->setChecked(toolbar_->isVisible() || !isVisible());
    UpdateTitle();
}

void CMainFrame::OnUpdateDownload() {
    actions_.value(kCmdDownload)
        ->setEnabled(state.hasValidImageSet && state.hasValidImageSet());
}

void CMainFrame::OnUpdateUpload() {
    QAction* upload = actions_.value(kCmdUpload);
    if (state.impexMode && state.impexMode()) {
        upload->setEnabled(true);
        return;
    }
    // Removed for the rest of the run; toolbar 128 has no such button.
    if (!uploadRemoved_) {
        fileMenu_->removeAction(upload);
        uploadRemoved_ = true;
    }
}

void CMainFrame::OnUpdateImport() {
    QAction* import = actions_.value(kCmdImportCe);
    if (state.impexMode && state.impexMode()) {
        if (!separatorAdded_) {
            auto* separator = new QAction(this);
            separator->setSeparator(true);
            fileMenu_->insertAction(import, separator);
            separatorAdded_ = true;
        }
        import->setEnabled(true);
        return;
    }
    if (!importRemoved_) {
        fileMenu_->removeAction(import);
        importRemoved_ = true;
    }
}

void CMainFrame::OnUpdateExport() {
    QAction* exportCe = actions_.value(kCmdExportCe);
    if (state.impexMode && state.impexMode()) {
        exportCe->setEnabled(state.hasValidImageSet && state.hasValidImageSet());
        return;
    }
    if (!exportRemoved_) {
        fileMenu_->removeAction(exportCe);
        exportRemoved_ = true;
    }
}

void CMainFrame::UpdateTitle() {
    const QString document = state.documentTitle ? state.documentTitle() : QString();
    const QString title = document + QStringLiteral(" - ") + ProgramTitle();
    if (windowTitle() != title) setWindowTitle(title);
}

// ---- Recent files ---------------------------------------------------------

void CMainFrame::LoadRecentFileList() {
    recent_.clear();
    for (int i = 1; i <= kRecentFiles; ++i) {
        const std::string path =
            GetProfileString(kRecentSection, "File" + std::to_string(i), "");
        if (!path.empty()) recent_ << QString::fromStdString(path);
    }
}

void CMainFrame::StoreRecentFileList() const {
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString path = i <= recent_.size() ? recent_[i - 1] : QString();
        WriteProfileString(kRecentSection, "File" + std::to_string(i), path.toStdString());
    }
}

void CMainFrame::AddToRecentFileList(const QString& path) {
    if (path.isEmpty()) return;
    const QString full = QFileInfo(path).absoluteFilePath();
    recent_.removeAll(full);
    recent_.prepend(full);
    while (recent_.size() > kRecentFiles) recent_.removeLast();
    StoreRecentFileList();
    RebuildRecentEntries();
}

void CMainFrame::RemoveFromRecentFileList(const QString& path) {
    if (recent_.removeAll(QFileInfo(path).absoluteFilePath()) + recent_.removeAll(path) == 0)
        return;
    StoreRecentFileList();
    RebuildRecentEntries();
}

void CMainFrame::RebuildRecentEntries() {
    for (QAction* action : recentActions_) {
        fileMenu_->removeAction(action);
        action->deleteLater();
    }
    recentActions_.clear();
    // With no recent file the greyed "Letzte Datei" holds the place.
    recentPlaceholder_->setVisible(recent_.isEmpty());
    for (int i = 0; i < recent_.size(); ++i) {
        const QString path = recent_[i];
        QString shown = path;
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        action->setObjectName(QStringLiteral("cmd%1").arg(kCmdMruFirst + static_cast<unsigned>(i)));
        action->setStatusTip(PromptPart(GuiText(kCmdMruFirst)));
        connect(action, &QAction::triggered, this, [this, path] {
            if (openRecent) openRecent(path);
        });
        fileMenu_->insertAction(recentPlaceholder_, action);
        recentActions_ << action;
    }
}

// ---- Position ---------------------------------------------------------------

int CMainFrame::RestorePosition() {
    const int left = GetProfileInt(kPositionSection, "Rect_Norm_Left", 50);
    const int top = GetProfileInt(kPositionSection, "Rect_Norm_Top", 50);
    const int right = GetProfileInt(kPositionSection, "Rect_Norm_Right", 400);
    const int bottom = GetProfileInt(kPositionSection, "Rect_Norm_Bottom", 500);
    int showCmd = GetProfileInt(kPositionSection, "Show_Cmd", 1);
    // A window closed minimised comes back normal.
    if (showCmd == 2) showCmd = 1;
    // A rectangle turned inside out by hand would give a window nobody can
    // see or grab; it keeps its corner and gets a usable size.
    const int width = right - left >= 100 ? right - left : 350;
    const int height = bottom - top >= 80 ? bottom - top : 450;
    setGeometry(left, top, width, height);
    return showCmd == 3 ? 3 : 1;
}

void CMainFrame::SavePosition() {
    QRect normal = normalGeometry();
    if (!normal.isValid()) normal = geometry();
    const int showCmd = isMinimized() ? 2 : isMaximized() ? 3 : 1;
    WriteProfileInt(kPositionSection, "Rect_Norm_Left", normal.left());
    WriteProfileInt(kPositionSection, "Rect_Norm_Top", normal.top());
    WriteProfileInt(kPositionSection, "Rect_Norm_Right", normal.left() + normal.width());
    WriteProfileInt(kPositionSection, "Rect_Norm_Bottom", normal.top() + normal.height());
    WriteProfileInt(kPositionSection, "Show_Cmd", showCmd);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The position first: it is kept even when the save question then
    // stops the close.
    SavePosition();
    if (canClose && !canClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace tarnwick::gui

#pragma once
// The main window: menu bar, toolbar (128 in normal mode, 129 in IMPEX mode),
// a status bar that is created and hidden at once, the log view in its
// client area, and the rules that adapt the File menu to the mode and to the
// document. The commands themselves belong to the application, the document
// and the view; the frame routes each menu entry, button and key to the
// handler registered for its command id.
#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <map>

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace tarnwick::gui {

class CTarnwickView;

// What the update rules ask of the document; unset members count as "no
// document".
struct FrameState {
    std::function<bool()> hasValidImageSet;
    std::function<bool()> isSaveEnabled;
    std::function<bool()> isSaveAsEnabled;
    std::function<bool()> impexMode;
    std::function<QString()> documentTitle;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kRecentFiles = 4;

    explicit CMainFrame(QWidget* parent = nullptr);

    // The view fills the client area.
    void SetView(CTarnwickView* view);
    CTarnwickView* View() const { return view_; }

    // Toolbar 128 (normal) or 129 (IMPEX, with the upload button).
    void LoadToolbar(bool impex);
    QToolBar* ToolBar() const { return toolbar_; }

    FrameState state;
    // The handler of a command id; unregistered commands do nothing.
    void SetHandler(unsigned command, std::function<void()> handler);
    // Runs a command exactly as the menu would: only when its update rule
    // leaves it enabled.
    bool RouteCommand(unsigned command);

    QAction* Action(unsigned command) const { return actions_.value(command); }
    QMenu* FileMenu() const { return fileMenu_; }
    bool SeparatorAdded() const { return separatorAdded_; }

    // The update handlers of the File menu and the toolbar.
    void UpdateCommandUI();
    void OnUpdateDownload();
    void OnUpdateUpload();
    void OnUpdateImport();
    void OnUpdateExport();
    void UpdateTitle();

    // The recent-file list ("Recent File List", File1 … File4), newest first.
    void AddToRecentFileList(const QString& path);
    void RemoveFromRecentFileList(const QString& path);
    QStringList RecentFiles() const { return recent_; }
    std::function<void(const QString&)> openRecent;

    // Section POSITION: read at start-up, written by OnClose.
    // Returns the show state to open with: 1 normal or 3 maximised.
    int RestorePosition();
    void SavePosition();
    // Called before the save question when the window closes; false stops
    // the close. Batch runs never close through here.
    std::function<bool()> canClose;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* MakeAction(unsigned command, unsigned textId);
    void BuildMenus();
    void BuildStatusBar();
    void RebuildRecentEntries();
    void LoadRecentFileList();
    void StoreRecentFileList() const;
    bool IsEnabledNow(unsigned command);

    CTarnwickView* view_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentPlaceholder_ = nullptr;
    QList<QAction*> recentActions_;
    QHash<unsigned, QAction*> actions_;
    std::map<unsigned, std::function<void()>> handlers_;
    QStringList recent_;
    bool separatorAdded_ = false;
    bool uploadRemoved_ = false;
    bool importRemoved_ = false;
    bool exportRemoved_ = false;
};

}  // namespace tarnwick::gui

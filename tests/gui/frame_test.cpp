// The main window: menus and toolbar in both modes, the availability of
// Download, Save and Save As through a document's life, the window position,
// the single copy and a batch import run through the window.
#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include "app/instance_lock.h"
#include "app/settings.h"
#include "document/tarnwick_doc.h"
#include "gui/dialogs.h"
#include "gui/gui_texts.h"
#include "gui/main_frame.h"
#include "gui/tarnwick_view.h"
#include "gui/window_app.h"
#include "gui_test_env.h"

using namespace tarnwick;
using namespace tarnwick::gui;
using namespace tarnwick::testing;

namespace {

// What a person sees in a menu: the texts, "—" for a separator.
QStringList Shown(QMenu* menu) {
    QStringList shown;
    for (QAction* a : menu->actions()) {
        if (!a->isVisible()) continue;
        shown << (a->isSeparator() ? QStringLiteral("—") : a->text());
    }
    return shown;
}

void OpenAndClose(QMenu* menu) {
    menu->popup(QPoint(10, 10));
    QCoreApplication::processEvents();
    menu->hide();
    QCoreApplication::processEvents();
}

QStringList ToolbarCommands(QToolBar* bar) {
    QStringList ids;
    for (QAction* a : bar->actions())
        ids << (a->isSeparator() ? QStringLiteral("—") : a->objectName());
    return ids;
}

// Answers the next file dialog with path, typed into its name field as a
// person would. The dialog fills that field itself once its folder has been
// read (with the preselected name), so the answer waits until what was typed
// stays there.
void TypeAndAccept(QPointer<QFileDialog> dialog, QString path, int attempts) {
    if (!dialog) return;
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name && name->text() == path && attempts < 40) {
        static_cast<QDialog*>(dialog.data())->accept();
        return;
    }
    if (name) name->setText(path);
    if (attempts <= 0) {
        static_cast<QDialog*>(dialog.data())->accept();
        return;
    }
    QTimer::singleShot(50, dialog, [dialog, path, attempts] {
        TypeAndAccept(dialog, path, attempts - 1);
    });
}

std::shared_ptr<bool> AnswerFileDialog(const std::string& path) {
    return ModalAnswer::When<QFileDialog>([path](QFileDialog* dialog) {
        TypeAndAccept(dialog, QString::fromStdString(path), 40);
    });
}

std::string WriteValidNb0(const TempFolder& folder, const std::string& name) {
    Nb0Section section;
    section.Data(CodeLikeData(6000));
    const std::string path = folder.File(name);
    WriteBytes(path, BuildNb0({section}));
    return path;
}

}  // namespace

class FrameTest : public QObject {
    Q_OBJECT
private slots:
    void init() { Env().ForgetSettings(); }

    void normalModeMenuHasNoImpexEntries() {
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
        CMainFrame* frame = app.Frame();
        QCOMPARE(frame->windowTitle(), QStringLiteral("Neu - Tarnwick"));
        const QStringList expected{QStringLiteral("Ö&ffnen...\tStrg+O"),
                                   QStringLiteral("S&peichern\tStrg+S"),
                                   QStringLiteral("Speichern &unter..."),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Download"),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Einstellungen..."),
                                   QStringLiteral("—"),
                                   QStringLiteral("Letzte Datei"),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Beenden")};
        for (int i = 0; i < 3; ++i) {
            OpenAndClose(frame->FileMenu());
            QCOMPARE(Shown(frame->FileMenu()), expected);
        }
        QStringList bar;
        for (QAction* a : frame->menuBar()->actions()) bar << a->text();
        QCOMPARE(bar, (QStringList{QStringLiteral("&Datei"), QStringLiteral("&Ansicht"),
                                   QStringLiteral("Forma&t"), QStringLiteral("&?")}));
        QCOMPARE(ToolbarCommands(frame->ToolBar()),
                 (QStringList{"cmd57601", "cmd57603", "—", "cmd32771", "cmd32773"}));
        // Tool tips and prompts from the command strings.
        QCOMPARE(frame->Action(kCmdDownload)->toolTip(), QStringLiteral("Transfer"));
        QCOMPARE(frame->Action(kCmdDownload)->statusTip(),
                 QStringLiteral("Transfer der Daten zum Gerät "));
        QCOMPARE(frame->Action(kCmdSettings)->toolTip(), QStringLiteral("Einstellungen"));
        QCOMPARE(frame->Action(kCmdFileOpen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
        QCOMPARE(frame->Action(kCmdFileSave)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
        QVERIFY(!frame->statusBar()->isVisible());
        QVERIFY(!frame->Action(kCmdMruFirst)->isEnabled());
    }

    void impexMenuHasOneSeparatorBeforeImport() {
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({"-IMPEX"}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
        CMainFrame* frame = app.Frame();
        const QStringList expected{QStringLiteral("Ö&ffnen...\tStrg+O"),
                                   QStringLiteral("S&peichern\tStrg+S"),
                                   QStringLiteral("Speichern &unter..."),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Download"),
                                   QStringLiteral("Up&load"),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Einstellungen..."),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Import CE"),
                                   QStringLiteral("E&xport CE"),
                                   QStringLiteral("—"),
                                   QStringLiteral("Letzte Datei"),
                                   QStringLiteral("—"),
                                   QStringLiteral("&Beenden")};
        for (int i = 0; i < 4; ++i) {
            OpenAndClose(frame->FileMenu());
            QCOMPARE(Shown(frame->FileMenu()), expected);
        }
        QCOMPARE(ToolbarCommands(frame->ToolBar()),
                 (QStringList{"cmd57601", "cmd57603", "—", "cmd32771", "cmd32772", "cmd32773"}));
        QVERIFY(frame->Action(kCmdUpload)->isEnabled());
        QVERIFY(frame->Action(kCmdImportCe)->isEnabled());
        QVERIFY(!frame->Action(kCmdExportCe)->isEnabled());
        QCOMPARE(frame->Action(kCmdUpload)->toolTip(), QStringLiteral("Rücktransfer"));
    }

    void saveAndDownloadFollowTheDocument() {
        TempFolder folder;
        const std::string nb0 = WriteValidNb0(folder, "image.NB0");
        const std::string img = folder.File("saved.img");
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({"-IMPEX"}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
        CMainFrame* frame = app.Frame();
        auto state = [frame] {
            frame->UpdateCommandUI();
            return QList<bool>{frame->Action(kCmdDownload)->isEnabled(),
                               frame->Action(kCmdFileSave)->isEnabled(),
                               frame->Action(kCmdFileSaveAs)->isEnabled(),
                               frame->Action(kCmdExportCe)->isEnabled()};
        };
        // Empty document: nothing to send or save.
        QCOMPARE(state(), (QList<bool>{false, false, false, false}));

        // Import: a valid image set, modified.
        auto chosen = AnswerFileDialog(nb0);
        QVERIFY(frame->RouteCommand(kCmdImportCe));
        QVERIFY(*chosen);
        QVERIFY(app.Document()->IsModified());
        QCOMPARE(state(), (QList<bool>{true, true, true, true}));

        // Save As: no longer modified, so only Save As stays.
        auto saved = AnswerFileDialog(img);
        QVERIFY(frame->RouteCommand(kCmdFileSaveAs));
        QVERIFY(*saved);
        QVERIFY2(std::filesystem::exists(img), qPrintable(app.View()->toPlainText()));
        QCOMPARE(state(), (QList<bool>{true, false, true, true}));
        QCOMPARE(frame->windowTitle(), QStringLiteral("saved.img - Tarnwick"));
        QCOMPARE(frame->RecentFiles().value(0), QString::fromStdString(img));
        // The recent file takes the place of "Letzte Datei" in the menu.
        OpenAndClose(frame->FileMenu());
        const QStringList shown = Shown(frame->FileMenu());
        QVERIFY(!shown.contains(QStringLiteral("Letzte Datei")));
        QVERIFY(shown.contains(QStringLiteral("&1 ") + QString::fromStdString(img)));
        QCOMPARE(GetProfileString("Recent File List", "File1", ""), img);

        // A failed import: greyed, even though parts may be present.
        const std::string bad = folder.File("bad.NB0");
        WriteBytes(bad, std::vector<std::uint8_t>(300, 0x5A));
        auto badChosen = AnswerFileDialog(bad);
        QString message;
        auto answered = AnswerMessageBox(QMessageBox::Ok, &message);
        QVERIFY(frame->RouteCommand(kCmdImportCe));
        QVERIFY(*badChosen);
        QVERIFY2(*answered, qPrintable(app.View()->toPlainText()));
        QVERIFY(!message.isEmpty());
        QVERIFY(!app.Document()->IsUsable());
        QCOMPARE(state(), (QList<bool>{false, false, false, false}));

        // Opening the saved document: everything back, not modified.
        auto opened = AnswerFileDialog(img);
        QVERIFY(frame->RouteCommand(kCmdFileOpen));
        QVERIFY(*opened);
        QCOMPARE(state(), (QList<bool>{true, false, true, true}));
        QVERIFY(app.View()->toPlainText().contains(QStringLiteral("Ok")));
    }

    void positionIsStoredOnCloseAndRestored() {
        {
            TarnwickWindowApp app;
            QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
            // First start: the default rectangle.
            QCOMPARE(app.Frame()->geometry(), QRect(50, 50, 350, 450));
            app.Frame()->setGeometry(120, 130, 500, 400);
            QVERIFY(app.Frame()->close());
        }
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Left", 0), 120);
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Top", 0), 130);
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Right", 0), 620);
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Bottom", 0), 530);
        QCOMPARE(GetProfileInt("POSITION", "Show_Cmd", 0), 1);
        {
            TarnwickWindowApp app;
            QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
            QCOMPARE(app.Frame()->geometry(), QRect(120, 130, 500, 400));
            app.Frame()->showMaximized();
            QCoreApplication::processEvents();
            QVERIFY(app.Frame()->close());
        }
        QCOMPARE(GetProfileInt("POSITION", "Show_Cmd", 0), 3);
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Left", 0), 120);
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Right", 0), 620);
        {
            TarnwickWindowApp app;
            QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
            QVERIFY(app.Frame()->isMaximized());
            app.Frame()->showNormal();
            QCoreApplication::processEvents();
            QCOMPARE(app.Frame()->geometry(), QRect(120, 130, 500, 400));
            app.Frame()->hide();
        }
        // Closed minimised: the next start shows the window normal.
        WriteProfileInt("POSITION", "Show_Cmd", 2);
        {
            TarnwickWindowApp app;
            QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
            QVERIFY(!app.Frame()->isMaximized());
            QVERIFY(!app.Frame()->isMinimized());
            app.Frame()->hide();
        }
    }

    void positionIsWrittenEvenWhenTheSaveQuestionCancelsTheClose() {
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
        app.Frame()->setGeometry(70, 80, 400, 300);
        app.Document()->SetModifiedFlag(true);
        QString question;
        auto answered = AnswerMessageBox(QMessageBox::Cancel, &question);
        QVERIFY(!app.Frame()->close());
        QVERIFY(*answered);
        QCOMPARE(question, QStringLiteral("Änderungen in Neu speichern?"));
        QVERIFY(app.Frame()->isVisible());
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Left", 0), 70);
        app.Document()->SetModifiedFlag(false);
        QVERIFY(app.Frame()->close());
    }

    void batchImportRunsThroughTheWindowAndKeepsThePosition() {
        TempFolder folder;
        const std::string nb0 = WriteValidNb0(folder, "batch.NB0");
        WriteProfileInt("POSITION", "Rect_Norm_Left", 33);
        TarnwickWindowApp app;
        bool statusShown = false;
        app.StatusHost().onCreated = [&](QtStatusDialog&) { statusShown = true; };
        QCOMPARE(app.InitInstance({"-IMPEX", "-IMPORT", nb0}, WindowStartOptions()),
                 TarnwickWindowApp::Start::Finished);
        QVERIFY(statusShown);
        QVERIFY(app.Frame()->isVisible());
        QVERIFY(std::filesystem::exists(folder.File("batch.img")));
        QCOMPARE(GetProfileInt("POSITION", "Rect_Norm_Left", 0), 33);
        QCOMPARE(GetProfileInt("POSITION", "Show_Cmd", -1), -1);
    }

    void aSecondCopyEndsSilentlyWithoutTouchingSettings() {
        InstanceLock other;
        QCOMPARE(other.Acquire(), InstanceLock::Result::Acquired);
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({"-COM2", "-DOWNLOAD", "x.img"}, WindowStartOptions()),
                 TarnwickWindowApp::Start::OtherCopy);
        QVERIFY(app.Frame() == nullptr);
        QCOMPARE(GetProfileInt("SETTINGS", "DEVICE", -1), -1);
    }

    void aboutShowsTheVersion() {
        AboutDialog about;
        QCOMPARE(about.VersionField(), QStringLiteral("V 6.0   Build 0.8"));
        QCOMPARE(about.windowTitle(), QStringLiteral("Info über Tarnwick"));
    }
};

QTEST_MAIN(FrameTest)
#include "frame_test.moc"

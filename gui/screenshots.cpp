#include "gui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>

#include "app/string_table.h"
#include "document/tarnwick_doc.h"
#include "gui/dialogs.h"
#include "gui/font_dialog.h"
#include "gui/gui_texts.h"
#include "gui/main_frame.h"
#include "gui/qt_ports.h"
#include "gui/qt_status_dialog.h"
#include "gui/tarnwick_view.h"
#include "gui/window_app.h"

namespace tarnwick::gui {
namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

bool Save(QWidget* widget, const QDir& dir, const QString& name) {
    Settle();
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    const bool ok = widget->grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// Shows a dialog without its modal loop, takes its picture, closes it.
bool Shoot(QDialog& dialog, const QDir& dir, const QString& name) {
    dialog.show();
    dialog.raise();
    const bool ok = Save(&dialog, dir, name);
    dialog.hide();
    return ok;
}

// A short log as a real session writes it: normal lines and red bold ones.
void WriteSampleLog(CTarnwickView& view) {
    auto text = [](unsigned id) { return Text(id); };
    std::string open = text(11026);
    if (auto at = open.find("%s"); at != std::string::npos) open.replace(at, 2, "/home/service/KV10.img");
    view.AppendLog(open);
    view.AppendLog("Windows CE Version:\t4.20\r\n");
    view.AppendLog(text(11012));
    view.AppendLog(text(11023));
    view.AppendLog("Operator Panel Typ:\tKV10\r\nBootloader Version:\t1.05\r\n");
    view.AppendLog(text(10010) + "\r\n", kLogRed, kLogBold);
    view.AppendLog(text(11021), kLogRed, kLogBold);
}

}  // namespace

int TakeScreenshots(TarnwickWindowApp& app, const char* folder) {
    QDir dir;
    if (!dir.mkpath(QString::fromLocal8Bit(folder))) return 1;
    dir.setPath(QString::fromLocal8Bit(folder));
    const bool impex = app.App().impexMode != 0;
    const QString mode = impex ? QStringLiteral("impex") : QStringLiteral("normal");
    CMainFrame* frame = app.Frame();
    bool ok = true;

    frame->showNormal();
    frame->resize(720, 420);
    WriteSampleLog(*app.View());
    frame->UpdateCommandUI();
    ok &= Save(frame, dir, QStringLiteral("main-") + mode);

    // The File menu as it opens.
    QMenu* menu = frame->FileMenu();
    menu->popup(frame->mapToGlobal(QPoint(0, 0)));
    ok &= Save(menu, dir, QStringLiteral("menu-file-") + mode);
    menu->hide();

    {
        InterfaceDialog dialog(impex, frame);
        dialog.SetPort(app.App().port);
        dialog.SetBaud(app.App().baudRate);
        dialog.SetErase(app.App().eraseFlash != 0);
        ok &= Shoot(dialog, dir, impex ? QStringLiteral("dialog-interface-137")
                                       : QStringLiteral("dialog-interface-132"));
    }
    if (impex) {
        app.View()->ClearLog();
        return ok ? 0 : 1;
    }

    {
        AboutDialog dialog(frame);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-about"));
    }
    {
        QtStatusDialog dialog(frame);
        dialog.show();
        dialog.SetCaption(Text(10062));
        dialog.SetTextEmphasis(true);
        dialog.SetText(Text(10061));
        ok &= Save(&dialog, dir, QStringLiteral("dialog-status-connect"));
        dialog.SetTextEmphasis(false);
        dialog.SetCaption(Text(10050));
        dialog.SetText(Text(10059));
        dialog.ShowProgress();
        dialog.SetTotal(1000);
        dialog.AddProgress(420);
        ok &= Save(&dialog, dir, QStringLiteral("dialog-status-progress"));
        dialog.PostClose();
        Settle();
    }
    {
        ComponentDialog dialog(frame);
        dialog.SetMask(0x20000101);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-components"));
    }
    {
        std::vector<VariantEntry> variants(2);
        variants[0] = {"KV10-1", "KV10 mit 32 MB Flash", 0x02000000, 0x04000000, 0x00040000,
                       0x00000000, "KV10"};
        variants[1] = {"KV10-2", "KV10 mit 64 MB Flash", 0x04000000, 0x08000000, 0x00040000,
                       0x00000000, "KV10"};
        VariantDialog dialog(variants, frame);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-variants"));
    }
    {
        LogFontDialog dialog(app.View()->font(), LogFontDialog::kMinPoints,
                             LogFontDialog::kMaxPoints, frame);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-font"));
    }
    {
        QMessageBox box(frame);
        box.setWindowTitle(GuiText(kStrAppTitle));
        box.setIcon(QMessageBox::Question);
        box.setText(GuiText(kStrSaveQuestion).replace(QStringLiteral("%1"), QStringLiteral("KV10.img")));
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        ok &= Shoot(box, dir, QStringLiteral("dialog-save-question"));
    }
    {
        FileDialogRequest request;
        request.title = Text(kStrOpenTitle);
        request.filter = GuiTextUtf8(kStrOpenFilter);
        request.mustExist = true;
        request.initialFolder = app.App().ProgramFolder();
        TarnwickFileDialog dialog(frame, request, false);
        dialog.resize(640, 400);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-open"));
    }
    {
        FileDialogRequest request;
        request.filter = Text(10100);
        request.mustExist = true;
        TarnwickFileDialog dialog(frame, request, false);
        dialog.resize(640, 400);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-import-file"));
    }
    {
        FileDialogRequest request;
        request.filter = Text(10103);
        request.pathMustExist = true;
        request.overwritePrompt = true;
        TarnwickFileDialog dialog(frame, request, true);
        dialog.resize(640, 400);
        ok &= Shoot(dialog, dir, QStringLiteral("dialog-export-file"));
    }
    app.View()->ClearLog();
    return ok ? 0 : 1;
}

}  // namespace tarnwick::gui

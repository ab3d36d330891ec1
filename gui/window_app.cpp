#include "gui/window_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/command_line.h"
#include "app/language.h"
#include "app/path_value.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "document/tarnwick_doc.h"
#include "gui/dialogs.h"
#include "gui/gui_texts.h"
#include "gui/icons.h"
#include "gui/main_frame.h"
#include "gui/tarnwick_view.h"
#include "link/device_info.h"
#include "osimage/ce_image_view.h"
#include "osimage/ce_import.h"
#include "transfer/transfer_view.h"

namespace tarnwick::gui {

TarnwickWindowApp::TarnwickWindowApp() : app_(TheApp()) {}

TarnwickWindowApp::~TarnwickWindowApp() {
    // The document writes into the view's log: it goes first.
    transfer_.reset();
    document_.reset();
    frame_.reset();
    ExitInstance();
}

void TarnwickWindowApp::ExitInstance() { app_.instanceMutex.Release(); }

void TarnwickWindowApp::InstallQtTranslation() {
    // The toolkit's own texts (Yes, No, Cancel, the file dialog) in the
    // language the program's texts are in: German unless a language file
    // of another language is in use.
    QString language = QStringLiteral("de");
    if (LanguageFileLoaded()) {
        switch (LanguageNumber(UserDefaultUILanguage())) {
        case 0x407: language = QStringLiteral("de"); break;
        case 0x40A: language = QStringLiteral("es"); break;
        case 0x40C: language = QStringLiteral("fr"); break;
        case 0x410: language = QStringLiteral("it"); break;
        default: language.clear(); break;
        }
    }
    if (qtTranslator_) {
        QCoreApplication::removeTranslator(qtTranslator_.get());
        qtTranslator_.reset();
    }
    if (language.isEmpty()) return;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_") + language,
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator.get());
        qtTranslator_ = std::move(translator);
    }
}

void TarnwickWindowApp::CreateDocumentFrameView() {
    frame_ = std::make_unique<CMainFrame>();
    view_ = new CTarnwickView(frame_.get());
    frame_->SetView(view_);
    prompter_.SetOwner(frame_.get());
    choices_.SetOwner(frame_.get());
    statusHost_.SetOwner(frame_.get());

    document_ = std::make_unique<CTarnwickDoc>(*view_, prompter_);
    view_->isModified = [this] { return document_ && document_->IsModified(); };
    view_->setModified = [this](bool modified) {
        if (document_) document_->SetModifiedFlag(modified);
    };
    // The log view takes up the stored interface values when it is made.
    app_.TakeUpSettings();

    FrameState& state = frame_->state;
    state.hasValidImageSet = [this] { return document_ && document_->HasValidImageSet(); };
    state.isSaveEnabled = [this] { return document_ && document_->IsSaveEnabled(); };
    state.isSaveAsEnabled = [this] { return document_ && document_->IsSaveAsEnabled(); };
    state.impexMode = [this] { return app_.impexMode != 0; };
    state.documentTitle = [this] {
        return document_ ? QString::fromStdString(document_->GetTitle()) : QString();
    };
    frame_->canClose = [this] { return !document_ || document_->SaveModified(); };
    frame_->openRecent = [this](const QString& path) {
        if (!OpenDocumentFile(path.toStdString()) && !QFileInfo::exists(path))
            frame_->RemoveFromRecentFileList(path);
    };
    transfer_ = std::make_unique<TransferView>(
        TransferContext{app_, *document_, choices_, statusHost_});
    RegisterCommands();
}

void TarnwickWindowApp::RegisterCommands() {
    CMainFrame& f = *frame_;
    f.SetHandler(kCmdFileOpen, [this] { OnFileOpen(); });
    f.SetHandler(kCmdAbout, [this] { OnAbout(); });
    f.SetHandler(kCmdFileSave, [this] {
        if (document_->OnFileSave())
            frame_->AddToRecentFileList(QString::fromStdString(document_->GetPathName()));
    });
    f.SetHandler(kCmdFileSaveAs, [this] {
        if (document_->OnFileSaveAs())
            frame_->AddToRecentFileList(QString::fromStdString(document_->GetPathName()));
    });
    f.SetHandler(kCmdFont, [this] { view_->OnFormatFont(); });
    f.SetHandler(kCmdImportCe, [this] {
        CeImageView view{*document_, statusHost_, FlashSize()};
        std::optional<std::string> batchFile;
        if (app_.IsBatchMode()) batchFile = app_.batchFile;
        OnImportCe(view, batchFile);
    });
    // The transfer commands are the core's, with the window's ports.
    f.SetHandler(kCmdDownload, [this] { transfer_->OnTransfer(); });
    f.SetHandler(kCmdUpload, [this] { transfer_->OnUpload(); });
    f.SetHandler(kCmdSettings, [this] { transfer_->OnSettings(); });
    f.SetHandler(kCmdExportCe, [this] { transfer_->OnTransferToFile(); });
}

TarnwickWindowApp::Start TarnwickWindowApp::InitInstance(const std::vector<std::string>& args,
                                                         const StartOptions& options) {
    // 1. One copy only; a second one ends without a word.
    const auto lock = app_.AcquireInstance(options.lockPath.empty() ? InstanceLock::DefaultPath()
                                                                    : options.lockPath);
    if (lock == InstanceLock::Result::HeldByOther) return Start::OtherCopy;

    // 2. Settings, the program's place, the language.
    EnsureSettingsFolder();
    app_.LocateProgram(options.programFile);
    app_.LoadUserLanguage();
    InstallQtTranslation();
    QApplication::setWindowIcon(ProgramIcon());

    // 3. The command line.
    CTarnwickCommandLineInfo info;
    ParseCommandLine(info, args);

    // 4. The new document "Neu" with its frame and log view.
    CreateDocumentFrameView();
    if (!document_->OnNewDocument()) return Start::Failed;
    view_->OnInitialUpdate();

    // 5. The command line takes effect; the mode picks the toolbar.
    app_.ApplyCommandLine(info);
    if (app_.impexMode) frame_->LoadToolbar(true);
    else app_.LimitToNormalInterface();

    // 6. The window where it was left.
    const int showCmd = frame_->RestorePosition();
    frame_->UpdateCommandUI();
    if (options.show) {
        if (showCmd == 3) frame_->showMaximized();
        else frame_->show();
        frame_->repaint();
        QCoreApplication::processEvents();
    }

    if (!app_.IsBatchMode()) return Start::Interactive;

    // 7. The batch command, exactly as if chosen from the menu; then the
    // program ends without the save question and without storing the
    // window position.
    frame_->RouteCommand(app_.batchCommand);
    return Start::Finished;
}

void TarnwickWindowApp::OnFileOpen() {
    FileDialogRequest request;
    request.title = Text(kStrOpenTitle);
    request.filter = GuiTextUtf8(kStrOpenFilter);
    request.mustExist = true;
    // Always the programs' folder, never the last one used.
    PathValue folder(app_.ProgramFolder());
    folder.TrimTrailingBackslash();
    request.initialFolder = folder.full;
    const auto chosen = prompter_.OpenFileDialog(request);
    if (chosen) OpenDocumentFile(*chosen);
}

bool TarnwickWindowApp::OpenDocumentFile(const std::string& path) {
    if (!document_->SaveModified()) return false;
    if (!document_->OnOpenDocument(path)) return false;
    // The framework's initial update of the view for the opened document.
    view_->OnInitialUpdate();
    frame_->AddToRecentFileList(QString::fromStdString(document_->GetPathName().empty()
                                                           ? path
                                                           : document_->GetPathName()));
    frame_->UpdateCommandUI();
    return true;
}

void TarnwickWindowApp::OnAbout() {
    AboutDialog dialog(frame_.get());
    dialog.exec();
}

}  // namespace tarnwick::gui

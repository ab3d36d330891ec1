#pragma once
// The texts of the window's own resources: menus, dialog captions and
// controls, the command prompts of the framework's commands. They are looked
// up by number like every other text, so that a language file translates them
// too. They live in the program's string table with every other text.
#include <QString>

namespace tarnwick::gui {

// The text of id from the active table (a language file, else German);
// empty when neither has it.
QString GuiText(unsigned id);

// The same as std::string (UTF-8).
std::string GuiTextUtf8(unsigned id);

// The parts of a command string "prompt\ntool tip": the status-bar prompt
// before the line break, the tool tip after it (empty when there is none).
QString PromptPart(const QString& commandString);
QString TipPart(const QString& commandString);

// Command ids of the menus (the same numbers as their prompt strings).
enum Command : unsigned {
    kCmdFileOpen = 57601,
    kCmdFileSave = 57603,
    kCmdFileSaveAs = 57604,
    kCmdMruFirst = 57616,
    kCmdAbout = 57664,
    kCmdExit = 57665,
    kCmdFont = 57696,
    kCmdToolbar = 59392,
    kCmdDownload = 32771,
    kCmdUpload = 32772,
    kCmdSettings = 32773,
    kCmdImportCe = 32775,
    kCmdExportCe = 32790,
};

// Numbers of the window's resource texts.
enum TextId : unsigned {
    // Menu bar (menu 128).
    kTxtMenuFile = 30001,
    kTxtMenuOpen,
    kTxtMenuSave,
    kTxtMenuSaveAs,
    kTxtMenuDownload,
    kTxtMenuUpload,
    kTxtMenuSettings,
    kTxtMenuImport,
    kTxtMenuExport,
    kTxtMenuRecent,
    kTxtMenuExit,
    kTxtMenuView,
    kTxtMenuToolbar,
    kTxtMenuFormat,
    kTxtMenuFont,
    kTxtMenuHelp,
    kTxtMenuAbout,

    // About box (dialog 100).
    kTxtAboutCaption = 30100,
    kTxtAboutProduct,
    kTxtAboutNotice,
    kTxtAboutVersionLabel,
    kTxtOk,

    // Status dialog (dialog 133).
    kTxtStatusCaption = 30110,
    kTxtAbbruch,
    kTxtStatusDummy,

    // Interface settings (dialogs 132 and 137).
    kTxtInterfaceCaption = 30120,
    kTxtPortGroup,
    kTxtBaudGroup,
    kTxtRs485Note,
    kTxtEraseFlash,
    kTxtDeviceLabel,

    // Component selection (dialog 134).
    kTxtComponentCaption = 30130,
    kTxtFirmware,
    kTxtFirmwareAndConfig,

    // Variant selection (dialog 138).
    kTxtVariantCaption = 30140,
    kTxtAbbrechen,
    kTxtTargetLabel,
    kTxtVariantLabel,

    // Font dialog.
    kTxtFontCaption = 30150,
    kTxtFontFace,
    kTxtFontSize,
    kTxtFontSample,
    kTxtFontSampleText,
};

// Numbered texts of the program's table the window uses.
enum ProgramTextId : unsigned {
    kStrAppTitle = 57344,      // "Tarnwick"
    kStrDocTemplate = 128,     // "Tarnwick\nxxx\nTarnwi\nImage (*.img)\n.img\n..."
    kStrNewTitle = 10101,      // "Neu"
    kStrOpenFilter = 10102,    // "Image Datei  (*.img)|*.IMG||"
    kStrOpenTitle = 61440,     // "Öffnen"
    kStrUntitled = 61443,      // "Unbenannt"
    kStrSaveQuestion = 61699,  // "Änderungen in %1 speichern?"
    kStrOleFailed = 100,
    kStrVariantFlash = 32800,
    kStrVariantDram = 32801,
    kStrVariantLoader = 32802,
    kStrVariantStart = 32803,
};

}  // namespace tarnwick::gui

// The transfer commands through the window against the real panelsim on its
// pseudo-terminal: a batch download from the command line, a refused panel
// whose message box the test answers, Cancel pressed in the status dialog,
// and the interface settings command.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <fstream>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "app/settings.h"
#include "app/string_table.h"
#include "document/tarnwick_doc.h"
#include "gui/dialogs.h"
#include "gui/gui_texts.h"
#include "gui/main_frame.h"
#include "gui/qt_status_dialog.h"
#include "gui/tarnwick_view.h"
#include "gui/window_app.h"
#include "gui_test_env.h"
#include "link/device_info.h"
#include "link/error_state.h"
#include "link/panelsim_process.h"
#include "link/serial_port.h"

using namespace tarnwick;
using namespace tarnwick::gui;
using namespace tarnwick::testing;

namespace {

std::string PanelConfig(const char* name) {
    return std::string(TARNWICK_SOURCE_DIR) + "/sim/panels/" + name;
}

// An image document of one Windows CE image for a type-0x200 panel, made by
// the window's own batch import.
std::string MakeDocument(const TempFolder& folder, std::size_t dataSize) {
    Nb0Section section;
    section.Hardware(0x0200).Data(RandomData(dataSize));
    const std::string nb0 = folder.File("image.NB0");
    WriteBytes(nb0, BuildNb0({section}));
    TarnwickWindowApp app;
    if (app.InitInstance({"-IMPEX", "-IMPORT", nb0}, WindowStartOptions()) !=
        TarnwickWindowApp::Start::Finished)
        return {};
    return folder.File("image.img");
}

// The lines of the log with their colour: "R:" for red bold, "N:" for normal.
QStringList ColouredLines(const CTarnwickView& view) {
    QStringList lines;
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        if (block.text().isEmpty()) continue;
        const QTextCharFormat f = block.begin().fragment().charFormat();
        const bool red = f.foreground().color() == QColor(255, 0, 0) && f.fontWeight() >= QFont::Bold;
        lines << (red ? QStringLiteral("R:") : QStringLiteral("N:")) + block.text();
    }
    return lines;
}

QString Line(unsigned id) {
    QString text = QString::fromStdString(Text(id));
    text.remove(QStringLiteral("\r\n"));
    return text;
}

}  // namespace

class TransferTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        Env().ForgetSettings();
        ClearErrors();
        TheDeviceInfo().Reset();
    }
    void cleanup() { ThePort().Close(); }

    void batchDownloadRunsThroughTheWindow() {
        if (!QFile::exists(QString::fromStdString(PanelsimPath()))) QSKIP("panelsim not built");
        TempFolder folder;
        const std::string img = MakeDocument(folder, 3000);
        QVERIFY(!img.empty());
        Panelsim sim;
        QVERIFY(sim.Start({"-c", PanelConfig("kv60.cfg"), "--dump", folder.File("flash.bin")},
                          folder.Path()));
        TarnwickWindowApp app;
        int dialogs = 0;
        QStringList captions;
        app.StatusHost().onCreated = [&](QtStatusDialog& d) {
            ++dialogs;
            connect(&d, &QWidget::windowTitleChanged, &d,
                    [&captions](const QString& c) { captions << c; });
        };
        QCOMPARE(app.InitInstance({"-COM1=" + sim.Path(), "-DOWNLOAD", img}, WindowStartOptions()),
                 TarnwickWindowApp::Start::Finished);
        const QStringList lines = ColouredLines(*app.View());
        sim.Stop();
        QCOMPARE(dialogs, 2);  // connect, then the download
        QVERIFY(captions.contains(QString::fromStdString(Text(10062))));
        QVERIFY(captions.contains(QString::fromStdString(Text(10050))));
        QVERIFY2(lines.contains(QStringLiteral("N:") + Line(11023)), qPrintable(lines.join('\n')));
        QVERIFY2(lines.contains(QStringLiteral("N:Ok")), qPrintable(lines.join('\n')));
        QCOMPARE(lines.last(), QStringLiteral("R:") + QString::fromStdString(Text(10055)));
        QVERIFY(std::filesystem::file_size(folder.File("flash.bin")) > 0);
        // A batch run leaves the window position alone.
        QCOMPARE(GetProfileInt("POSITION", "Show_Cmd", -1), -1);
    }

    void aPanelOfAnotherTypeIsRefusedWithAMessageBox() {
        if (!QFile::exists(QString::fromStdString(PanelsimPath()))) QSKIP("panelsim not built");
        TempFolder folder;
        const std::string img = MakeDocument(folder, 2000);
        Panelsim sim;
        QVERIFY(sim.Start({"-c", PanelConfig("kv40.cfg")}, folder.Path()));
        TarnwickWindowApp app;
        QString shown;
        auto answered = AnswerMessageBox(QMessageBox::Ok, &shown);
        QCOMPARE(app.InitInstance({"-COM1=" + sim.Path(), "-DOWNLOAD", img}, WindowStartOptions()),
                 TarnwickWindowApp::Start::Finished);
        sim.Stop();
        QVERIFY(*answered);
        QCOMPARE(shown, QString::fromStdString(Text(10012)));
        const QStringList lines = ColouredLines(*app.View());
        // The error's line in the normal style, then the closing line in red.
        QCOMPARE(lines.value(lines.size() - 2), QStringLiteral("N:") + QString::fromStdString(Text(10012)));
        QCOMPARE(lines.last(), QStringLiteral("R:") + Line(11021).trimmed() + QLatin1Char(' '));
    }

    void cancelInTheStatusDialogStopsTheDownload() {
        if (!QFile::exists(QString::fromStdString(PanelsimPath()))) QSKIP("panelsim not built");
        TempFolder folder;
        const std::string img = MakeDocument(folder, 60000);
        Panelsim sim;
        QVERIFY(sim.Start({"-c", PanelConfig("kv60.cfg"), "--throttle"}, folder.Path()));
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({"-COM1=" + sim.Path()}, WindowStartOptions()),
                 TarnwickWindowApp::Start::Interactive);
        QVERIFY(app.OpenDocumentFile(img));

        bool pressed = false;
        bool stayedAfterPress = false;
        QTimer presser;
        connect(&presser, &QTimer::timeout, this, [&] {
            auto* d = qobject_cast<QtStatusDialog*>(QApplication::activeModalWidget());
            if (pressed || !d) return;
            if (d->windowTitle() != QString::fromStdString(Text(10050))) return;
            if (!d->ProgressBar()->isVisible() || d->ProgressBar()->value() == 0) return;
            d->CancelButton()->click();
            pressed = true;
            QCoreApplication::processEvents();
            stayedAfterPress = d->isVisible();
        });
        presser.start(5);
        QString shown;
        auto answered = AnswerMessageBox(QMessageBox::Ok, &shown);
        QVERIFY(app.Frame()->RouteCommand(kCmdDownload));
        presser.stop();
        sim.Stop();
        QVERIFY(pressed);
        QVERIFY(stayedAfterPress);
        QVERIFY(*answered);
        QCOMPARE(shown, QString::fromStdString(Text(10010)));
        QCOMPARE(ColouredLines(*app.View()).last(), QStringLiteral("R:") + Line(11021));
        // The document is as it was: nothing stays placed.
        QVERIFY(!app.Document()->IsModified());
    }

    void uploadAsksForTheComponentsAndFillsANewDocument() {
        if (!QFile::exists(QString::fromStdString(PanelsimPath()))) QSKIP("panelsim not built");
        TempFolder folder;
        const std::string img = MakeDocument(folder, 2500);
        Panelsim sim;
        QVERIFY(sim.Start({"-c", PanelConfig("kv60.cfg"), "--preload", img}, folder.Path()));
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({"-IMPEX", "-COM1=" + sim.Path()}, WindowStartOptions()),
                 TarnwickWindowApp::Start::Interactive);
        bool firmwareFirst = false;
        ModalAnswer::When<ComponentDialog>([&](ComponentDialog* d) {
            firmwareFirst = d->FirmwareButton()->isChecked();
            d->findChild<QPushButton*>(QStringLiteral("ok1"))->click();
        });
        QVERIFY(app.Frame()->RouteCommand(kCmdUpload));
        sim.Stop();
        QVERIFY(firmwareFirst);
        const QStringList lines = ColouredLines(*app.View());
        QVERIFY2(lines.contains(QStringLiteral("N:Ok")), qPrintable(lines.join('\n')));
        QCOMPARE(app.Document()->PresentMask(), 0x20000001u);
        QVERIFY(app.Document()->IsModified());
        app.Frame()->UpdateCommandUI();
        QVERIFY(app.Frame()->Action(kCmdFileSave)->isEnabled());
        QCOMPARE(app.Frame()->windowTitle(), QStringLiteral("Neu - Tarnwick"));
        app.Document()->SetModifiedFlag(false);
    }

    void transferIntoAFileAsksForTheFileAndTheVariant() {
        TempFolder folder;
        const std::string img = MakeDocument(folder, 2500);
        // The program's INI file with two variants of the document's panel type.
        std::ofstream(folder.File("tarnwick.INI"))
            << "[KV60-VARIANTS]\nKV60-1=Klein\nKV60-2=Gross\n"
               "[KV60-1]\nSIZE_FLASH=0x00400000\nSIZE_DRAM=0x01000000\nSIZE_LOADER=0x00050000\n"
               "START_FLASH=0xBFC00000\n"
               "[KV60-2]\nSIZE_FLASH=0x00800000\nSIZE_DRAM=0x02000000\nSIZE_LOADER=0x00050000\n"
               "START_FLASH=0xBFC00000\n";
        StartOptions options;
        options.programFile = folder.File("tarnwick");
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({"-IMPEX"}, options), TarnwickWindowApp::Start::Interactive);
        QVERIFY(app.OpenDocumentFile(img));
        QStringList listed;
        ModalAnswer::When<QFileDialog>([&](QFileDialog* dialog) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->setText(QString::fromStdString(folder.File("out.EXP")));
            // The variant dialog comes next.
            ModalAnswer::When<VariantDialog>([&](VariantDialog* d) {
                for (int i = 0; i < d->VariantBox()->count(); ++i) listed << d->VariantBox()->itemText(i);
                d->VariantBox()->setCurrentIndex(1);
                d->findChild<QPushButton*>(QStringLiteral("ok1"))->click();
            });
            QTimer::singleShot(100, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
        });
        QVERIFY(app.Frame()->RouteCommand(kCmdExportCe));
        QCOMPARE(listed, (QStringList{QStringLiteral("Klein"), QStringLiteral("Gross")}));
        QVERIFY(std::filesystem::exists(folder.File("out.exp")));
        QCOMPARE(FlashSize(), 0x00800000u);
        const QStringList lines = ColouredLines(*app.View());
        QVERIFY2(lines.contains(QStringLiteral("N:Ok")), qPrintable(lines.join('\n')));
        QCOMPARE(lines.last(), QStringLiteral("R:") + QString::fromStdString(Text(10055)));
        QCOMPARE(GetProfileString("FILE_DIALOGS", "Export_Dialog", ""), folder.File("out.EXP"));
    }

    void settingsCommandShowsAndStoresTheChoice() {
        WriteProfileInt("SETTINGS", "DEVICE", 1);
        WriteProfileInt("SETTINGS", "BAUDRATE", 57600);
        TarnwickWindowApp app;
        QCOMPARE(app.InitInstance({}, WindowStartOptions()), TarnwickWindowApp::Start::Interactive);
        bool checked = false;
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            checked = d->PortButton(1)->isChecked() && d->BaudButton(2)->isChecked() &&
                      !d->IsImpexForm();
            d->findChild<QPushButton*>(QStringLiteral("ok1"))->click();
        });
        QVERIFY(app.Frame()->RouteCommand(kCmdSettings));
        QVERIFY(checked);
        QCOMPARE(GetProfileInt("SETTINGS", "DEVICE", -1), 1);
        QCOMPARE(GetProfileInt("SETTINGS", "BAUDRATE", -1), 57600);
        QCOMPARE(GetProfileInt("SETTINGS", "ERASE_FLASH", -1), 1);

        // A rate stored by hand that the dialog does not offer.
        WriteProfileInt("SETTINGS", "BAUDRATE", 9600);
        app.App().baudRate = 9600;
        bool first = false;
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            first = d->BaudButton(0)->isChecked();
            d->findChild<QPushButton*>(QStringLiteral("ok1"))->click();
        });
        QVERIFY(app.Frame()->RouteCommand(kCmdSettings));
        QVERIFY(first);
        QCOMPARE(GetProfileInt("SETTINGS", "BAUDRATE", -1), 19200);
        QCOMPARE(app.App().baudRate, 19200u);

        // Cancel changes nothing, neither the settings nor the values in use.
        QFile before(QString::fromStdString(Env().SettingsFile()));
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray stored = before.readAll();
        before.close();
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            d->PortButton(0)->setChecked(true);
            d->BaudButton(3)->setChecked(true);
            d->findChild<QPushButton*>(QStringLiteral("cancel2"))->click();
        });
        QVERIFY(app.Frame()->RouteCommand(kCmdSettings));
        QFile after(QString::fromStdString(Env().SettingsFile()));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), stored);
        QCOMPARE(app.App().port, std::uint16_t(1));
        QCOMPARE(app.App().baudRate, 19200u);
    }
};

QTEST_MAIN(TransferTest)
#include "transfer_test.moc"

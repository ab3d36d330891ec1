// The dialogs behind the ports: the status dialog with its Cancel, the
// interface settings in both forms, component and variant selection.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <atomic>
#include <thread>

#include "gui/dialogs.h"
#include "gui/qt_ports.h"
#include "gui/qt_status_dialog.h"
#include "gui_test_env.h"
#include "link/error_state.h"
#include "transfer/run_worker.h"

using namespace tarnwick;
using namespace tarnwick::gui;
using namespace tarnwick::testing;

namespace {

void Press(QDialog* dialog, const char* button) {
    dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearErrors(); }

    void statusDialogCancelOnlyRecordsTheRequest() {
        QtStatusHost host;
        bool barHiddenAtFirst = false;
        host.onCreated = [&](QtStatusDialog& d) { barHiddenAtFirst = !d.ProgressBar()->isVisible(); };
        std::atomic<bool> sawCancel{false};
        std::atomic<bool> mayEnd{false};
        bool stayedOpen = false;
        int barAfterCancel = -1;
        QString caption;
        ModalAnswer::When<QtStatusDialog>([&](QtStatusDialog* d) {
            // Wait until the worker has moved some data.
            auto* poll = new QTimer(d);
            connect(poll, &QTimer::timeout, d, [&, d, poll] {
                if (d->ProgressBar()->value() != 25 || !d->ProgressBar()->isVisible()) return;
                poll->stop();
                caption = d->windowTitle();
                QTest::keyClick(d, Qt::Key_Escape);  // Esc is Cancel too
                d->CancelButton()->click();
                d->close();
                QCoreApplication::processEvents();
                stayedOpen = d->isVisible();
                barAfterCancel = d->ProgressBar()->value();
                mayEnd = true;
            });
            poll->start(5);
        });
        const bool ok = RunWorker(
            host,
            [&](StatusDialog& d) {
                d.SetCaption("Transfer");
                d.SetText("Daten werden transferiert ...");
                d.ShowProgress();
                d.SetTotal(4000);
                d.AddProgress(1000);
                while (!d.IsCancelled()) std::this_thread::yield();
                sawCancel = true;
                while (!mayEnd) std::this_thread::yield();
                ReportError(0x3E, 0x32);
                return false;
            },
            {0x3F, 0x72, std::nullopt});
        QVERIFY(!ok);
        QVERIFY(barHiddenAtFirst);
        QVERIFY(sawCancel);
        QVERIFY(stayedOpen);
        QCOMPARE(barAfterCancel, 25);
        QCOMPARE(caption, QStringLiteral("Transfer"));
        const auto errors = PendingErrors();
        QCOMPARE(errors.size(), size_t(2));
        QCOMPARE(errors[0].code, 0x32u);
    }

    void statusDialogPercentageRule() {
        QtStatusHost host;
        int shown = -1;
        QVERIFY(RunWorker(
            host,
            [&](StatusDialog& d) {
                auto& qd = dynamic_cast<QtStatusDialog&>(d);
                d.SetTotal(50);  // below 100: 100 % at once
                d.AddProgress(1);
                shown = qd.ProgressBar()->value();
                return true;
            },
            {0x3F, 0x72, std::nullopt}));
        QCOMPARE(shown, 100);
        QCOMPARE(QtStatusDialog::BarPosition(250), 100);
        QCOMPARE(QtStatusDialog::BarPosition(42), 42);
        QCOMPARE(QtStatusDialog::BarPosition(0x10032), 50);
    }

    void normalSettingsFormOpensWithTheStoredChoice() {
        QtChoices choices;
        InterfaceChoice stored{1, 57600, true, {}};
        InterfaceDialog* seen = nullptr;
        bool com3Hidden = false, rate230400Hidden = false, eraseHidden = false;
        bool com2 = false, rate57600 = false;
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            seen = d;
            com2 = d->PortButton(1)->isChecked();
            rate57600 = d->BaudButton(2)->isChecked();
            com3Hidden = !d->PortButton(2)->isVisible();
            rate230400Hidden = !d->BaudButton(4)->isVisible();
            eraseHidden = !d->EraseBox()->isVisible();
            Press(d, "ok1");
        });
        const auto chosen = choices.ChooseInterface(stored, false);
        QVERIFY(seen);
        QVERIFY(com2 && rate57600 && com3Hidden && rate230400Hidden && eraseHidden);
        QVERIFY(chosen);
        QCOMPARE(chosen->port, 1);
        QCOMPARE(chosen->baud, 57600u);
        QCOMPARE(chosen->eraseAll, true);  // the invisible box still carries the flag
    }

    void aRateNotInTheTableOpensAsTheFirstOne() {
        QtChoices choices;
        bool first = false;
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            first = d->BaudButton(0)->isChecked();
            Press(d, "ok1");
        });
        const auto chosen = choices.ChooseInterface({0, 9600, false, {}}, false);
        QVERIFY(first);
        QVERIFY(chosen);
        QCOMPARE(chosen->baud, 19200u);
    }

    void cancelGivesNothing() {
        QtChoices choices;
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            d->PortButton(0)->setChecked(true);
            Press(d, "cancel2");
        });
        QVERIFY(!choices.ChooseInterface({1, 57600, true, {}}, false));
    }

    void impexFormOffersFourPortsTheFifthRateAndErase() {
        QtChoices choices;
        bool rate230400 = false, eraseShown = false, com4Shown = false;
        ModalAnswer::When<InterfaceDialog>([&](InterfaceDialog* d) {
            rate230400 = d->BaudButton(4)->isChecked();
            eraseShown = d->EraseBox()->isVisible();
            com4Shown = d->PortButton(3)->isVisible();
            d->PortButton(3)->setChecked(true);
            d->DeviceBox()->setEditText(QStringLiteral("/dev/ttyUSB7"));
            d->EraseBox()->setChecked(false);
            Press(d, "ok1");
        });
        const auto chosen = choices.ChooseInterface({2, 230400, true, "/dev/pts/9"}, true);
        QVERIFY(rate230400 && eraseShown && com4Shown);
        QVERIFY(chosen);
        QCOMPARE(chosen->port, 3);
        QCOMPARE(chosen->baud, 230400u);
        QCOMPARE(chosen->eraseAll, false);
        QCOMPARE(chosen->devicePath, std::string("/dev/ttyUSB7"));
    }

    void theDevicePathFollowsThePort() {
        InterfaceDialog dialog(true);
        dialog.SetDevicePath(0, "/dev/pts/3");
        dialog.SetDevicePath(2, "/dev/ttyUSB0");
        dialog.SetPort(0);
        QCOMPARE(dialog.GetDevicePath(), std::string("/dev/pts/3"));
        dialog.PortButton(2)->setChecked(true);
        QCOMPARE(dialog.GetDevicePath(), std::string("/dev/ttyUSB0"));
        dialog.DeviceBox()->setEditText(QStringLiteral("/dev/ttyUSB1"));
        dialog.PortButton(0)->setChecked(true);
        dialog.PortButton(2)->setChecked(true);
        QCOMPARE(dialog.GetDevicePath(), std::string("/dev/ttyUSB1"));
    }

    void componentMasks_data() {
        QTest::addColumn<uint>("offered");
        QTest::addColumn<bool>("withConfig");
        QTest::addColumn<uint>("expected");
        QTest::newRow("download, firmware") << 0x20000101u << false << 0x20000001u;
        QTest::newRow("download, with configuration") << 0x20000101u << true << 0x20000101u;
        QTest::newRow("upload, firmware") << 0x100u << false << 0u;
        QTest::newRow("upload, with configuration") << 0x100u << true << 0x100u;
    }

    void componentMasks() {
        QFETCH(uint, offered);
        QFETCH(bool, withConfig);
        QFETCH(uint, expected);
        QtChoices choices;
        bool firmwareFirst = false;
        ModalAnswer::When<ComponentDialog>([&](ComponentDialog* d) {
            firmwareFirst = d->FirmwareButton()->isChecked();
            if (withConfig) d->WithConfigButton()->click();
            Press(d, "ok1");
        });
        const auto mask = choices.ChooseComponents(offered, offered);
        QVERIFY(firmwareFirst);
        QVERIFY(mask);
        QCOMPARE(*mask, std::uint32_t(expected));
    }

    void componentCancel() {
        QtChoices choices;
        ModalAnswer::When<ComponentDialog>([&](ComponentDialog* d) { Press(d, "cancel2"); });
        QVERIFY(!choices.ChooseComponents(0x20000101, 0x20000101));
    }

    void twoVariantsAreListedAndTheSecondCanBeChosen() {
        std::vector<VariantEntry> variants(2);
        variants[0] = {"KV10-1", "Klein", 0x00400000, 0x01000000, 0x00040000, 0x00000000, "KV10"};
        variants[1] = {"KV10-2", "Groß", 0x00800000, 0x02000000, 0x00080000, 0x00100000, "KV10"};
        QtChoices choices;
        QStringList listed;
        QString type, firstDetails, secondDetails;
        bool editable = true;
        ModalAnswer::When<VariantDialog>([&](VariantDialog* d) {
            for (int i = 0; i < d->VariantBox()->count(); ++i) listed << d->VariantBox()->itemText(i);
            editable = d->VariantBox()->isEditable();
            type = d->TypeField()->text();
            firstDetails = d->DetailsField()->toPlainText();
            d->VariantBox()->setCurrentIndex(1);
            secondDetails = d->DetailsField()->toPlainText();
            Press(d, "ok1");
        });
        const auto index = choices.ChooseVariant(variants);
        QCOMPARE(listed, (QStringList{QStringLiteral("Klein"), QStringLiteral("Groß")}));
        QVERIFY(!editable);
        QCOMPARE(type, QStringLiteral("KV10"));
        QCOMPARE(firstDetails, QStringLiteral("Flashgröße:\t0x00400000\nDRAM-Größe:\t0x01000000\n"
                                              "Größe Bootloader:\t0x00040000\n"
                                              "Start Flashbank:\t0x00000000\n"));
        QVERIFY(secondDetails.startsWith(QStringLiteral("Flashgröße:\t0x00800000\n")));
        QVERIFY(index);
        QCOMPARE(*index, size_t(1));
    }

    void oneVariantAndNone() {
        std::vector<VariantEntry> one(1);
        one[0] = {"KV10-1", "Einzig", 1, 2, 3, 4, "KV10"};
        QtChoices choices;
        ModalAnswer::When<VariantDialog>([&](VariantDialog* d) { Press(d, "ok1"); });
        const auto index = choices.ChooseVariant(one);
        QVERIFY(index);
        QCOMPARE(*index, size_t(0));
        ModalAnswer::When<VariantDialog>([&](VariantDialog* d) { Press(d, "cancel2"); });
        QVERIFY(!choices.ChooseVariant(one));
        QVERIFY(!choices.ChooseVariant({}));
    }

    void messageBoxAnswersAndTexts() {
        QtPrompter prompter;
        QString text;
        auto answered = AnswerMessageBox(QMessageBox::No, &text);
        QCOMPARE(prompter.MessageBox("Änderungen in Neu speichern?", MessageIcon::Question,
                                     MessageButtons::YesNoCancel),
                 MessageAnswer::No);
        QVERIFY(*answered);
        QCOMPARE(text, QStringLiteral("Änderungen in Neu speichern?"));
    }

    void tableFiltersBecomeQtFilters() {
        QCOMPARE(QtNameFilters("Image Datei  (*.img)|*.IMG||"),
                 QStringList{QStringLiteral("Image Datei  (*.img) (*.IMG *.img)")});
        QCOMPARE(QtNameFilters("Export image (*.exp)|*.EXP||"),
                 QStringList{QStringLiteral("Export image (*.exp) (*.EXP *.exp)")});
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"

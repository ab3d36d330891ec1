// The log view: colours and weights of normal and red lines, the default
// format, a font change that keeps colours, the modified flag, Cut and
// typing, and lines appended from a worker thread.
#include <QAction>
#include <QEventLoop>
#include <QFontDatabase>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <atomic>
#include <thread>

#include "gui/font_dialog.h"
#include "gui/main_frame.h"
#include "gui/tarnwick_view.h"
#include "gui_test_env.h"

using namespace tarnwick;
using namespace tarnwick::gui;
using namespace tarnwick::testing;

namespace {

struct Run {
    QString text;
    QColor colour;
    bool bold;
    QString family;
    qreal points;
};

// The runs of text in the log, line breaks left out.
QList<Run> Runs(const CTarnwickView& view) {
    QList<Run> runs;
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat f = fragment.charFormat();
            runs.append({fragment.text(), f.foreground().color(), f.fontWeight() >= QFont::Bold,
                         f.fontFamilies().toStringList().value(0), f.fontPointSize()});
        }
    }
    return runs;
}

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT
private slots:
    void normalAndRedLines() {
        CTarnwickView view;
        view.AppendLog("Ok\r\n");
        view.AppendLog("Import abgebrochen \r\n", kLogRed, kLogBold);
        view.AppendLog("Transfer läuft...\r\n");
        QCOMPARE(view.toPlainText(),
                 QStringLiteral("Ok\nImport abgebrochen \nTransfer läuft...\n"));
        const QList<Run> runs = Runs(view);
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[0].colour, QColor(Qt::black));
        QVERIFY(!runs[0].bold);
        QCOMPARE(runs[1].colour, QColor(255, 0, 0));
        QVERIFY(runs[1].bold);
        QCOMPARE(runs[2].colour, QColor(Qt::black));
        QVERIFY(!runs[2].bold);
    }

    void defaultFormatIsAFixedFaceAt11PointsWithOneTabStop() {
        CTarnwickView view;
        view.AppendLog("Bootloader Datum:\t01.02.1999\r\n");
        const Run run = Runs(view).value(0);
        QCOMPARE(run.family, CTarnwickView::DefaultFace());
        QCOMPARE(run.points, 11.0);
        const bool courier = QFontDatabase::families().contains(QStringLiteral("Courier New"));
        if (courier) QCOMPARE(run.family, QStringLiteral("Courier New"));
        else QVERIFY(QFontDatabase::isFixedPitch(run.family));
        const auto tabs = view.document()->begin().blockFormat().tabPositions();
        QCOMPARE(tabs.size(), 1);
        QCOMPARE(tabs[0].position, 4544 / 1440.0 * view.logicalDpiX());
        QVERIFY(view.isReadOnly());
    }

    void fontChangeKeepsColoursAndWeights() {
        CTarnwickView view;
        view.AppendLog("Ok\r\n");
        view.AppendLog("Transfer abgebrochen \r\n", kLogRed, kLogBold);
        const QString other = QStringLiteral("DejaVu Serif");
        QFont asked;
        view.fontChooser = [&](const QFont& current) -> std::optional<QFont> {
            asked = current;
            QFont chosen(other);
            chosen.setPointSize(14);
            return chosen;
        };
        view.OnFormatFont();
        QCOMPARE(asked.pointSize(), 11);
        view.AppendLog("Ok\r\n");
        const QList<Run> runs = Runs(view);
        QCOMPARE(runs.size(), 3);
        for (const Run& run : runs) {
            QCOMPARE(run.family, other);
            QCOMPARE(run.points, 14.0);
        }
        QCOMPARE(runs[1].colour, QColor(255, 0, 0));
        QVERIFY(runs[1].bold);
        QCOMPARE(runs[2].colour, QColor(Qt::black));
        QVERIFY(!runs[2].bold);

        // Cancel in the font dialog changes nothing.
        view.fontChooser = [](const QFont&) -> std::optional<QFont> { return std::nullopt; };
        view.OnFormatFont();
        QCOMPARE(Runs(view)[0].family, other);
    }

    void theInitialUpdateResetsTheFaceButKeepsRedLines() {
        CTarnwickView view;
        view.fontChooser = [](const QFont&) -> std::optional<QFont> {
            QFont chosen(QStringLiteral("DejaVu Serif"));
            chosen.setPointSize(20);
            return chosen;
        };
        view.OnFormatFont();
        view.AppendLog("Die Daten in der Datei können nicht gelesen werden\r\n", kLogRed, kLogBold);
        view.AppendLog("Ok\r\n");
        view.OnInitialUpdate();
        const QList<Run> runs = Runs(view);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0].family, CTarnwickView::DefaultFace());
        QCOMPARE(runs[0].points, 11.0);
        QCOMPARE(runs[0].colour, QColor(255, 0, 0));
        QVERIFY(runs[0].bold);
        QCOMPARE(runs[1].colour, QColor(Qt::black));
        QVERIFY(view.isReadOnly());
    }

    void fontDialogOffersEightToTwentyFourPoints() {
        LogFontDialog dialog(QFont(CTarnwickView::DefaultFace(), 30), LogFontDialog::kMinPoints,
                             LogFontDialog::kMaxPoints);
        QCOMPARE(dialog.SizeBox()->minimum(), 8);
        QCOMPARE(dialog.SizeBox()->maximum(), 24);
        QCOMPARE(dialog.SizeBox()->value(), 24);
        dialog.SizeBox()->setValue(6);
        QCOMPARE(dialog.ChosenFont().pointSize(), 8);
    }

    void loggingNeverChangesTheModifiedFlag() {
        for (const bool modified : {false, true}) {
            bool flag = modified;
            CTarnwickView view;
            view.isModified = [&] { return flag; };
            view.setModified = [&](bool m) { flag = m; };
            view.AppendLog("Ok\r\n");
            view.AppendLog("Fehler\r\n", kLogRed, kLogBold);
            view.ClearLog();
            QCOMPARE(flag, modified);
        }
    }

    void theLogCannotBeCutOrTypedInto() {
        CMainFrame frame;
        auto* view = new CTarnwickView(&frame);
        frame.SetView(view);
        frame.show();
        view->AppendLog("Ok\r\n");
        view->selectAll();
        view->setFocus();
        frame.Action(57635)->trigger();
        QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClicks(view, "abc");
        QTest::keyClick(view, Qt::Key_Delete);
        QTest::keyClick(view, Qt::Key_Backspace);
        QCOMPARE(view->toPlainText(), QStringLiteral("Ok\n"));
    }

    void aWorkerLineIsShownBeforeItsCallReturns() {
        CTarnwickView view;
        std::atomic<bool> returned{false};
        QString seenOnReturn;
        QEventLoop loop;
        std::thread worker([&] {
            view.AppendLog("Ok\r\n");
            returned = true;
            QMetaObject::invokeMethod(&loop, [&] {
                seenOnReturn = view.toPlainText();
                loop.quit();
            }, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
        QVERIFY(returned);
        QCOMPARE(seenOnReturn, QStringLiteral("Ok\n"));
    }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"

// The window's small parts: the progress and status adapters, the title's
// version, the icons, the result band, the run log, the options and where
// the help is.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>

#include "app/file_version.h"
#include "app/help_file.h"
#include "app/icon_set.h"
#include "app/korvel_options.h"
#include "app/options_dialog.h"
#include "app/progress_bar_control.h"
#include "app/result_band.h"
#include "app/run_log_pane.h"
#include "app/status_panel_control.h"
#include "tests/support/temp_dir.h"

using namespace korvel::app;
using korvel::Outcome;
using korvel::RunResult;

namespace {

// How many pixels of the image are not transparent.
int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT

  private slots:
    void progressBarStartsAtZeroAndStepsFromWhatItShows() {
        ProgressBarControl bar;
        QCOMPARE(bar.position(), 0);
        bar.setMaximum(10);
        bar.setPosition(4);
        bar.setPosition(bar.position() + 3);
        QCOMPARE(bar.position(), 7);
        QCOMPARE(bar.value(), 7);
    }

    void progressBarHoldsPositionsOutsideItsRangeAtTheEnds() {
        ProgressBarControl bar;
        bar.setMaximum(100);
        bar.setPosition(150);
        QCOMPARE(bar.position(), 100);
        bar.setPosition(-5);
        QCOMPARE(bar.position(), 0);
        bar.setPosition(80);
        bar.setMaximum(50);  // a new, smaller range pulls the position down with it
        QCOMPARE(bar.position(), 50);
        QCOMPARE(bar.maximum(), 50);
        bar.setMaximum(200);
        QCOMPARE(bar.position(), 50);
        // Nothing to measure (an image under 1 KB) never makes the bar busy.
        for (int nothing : {0, -1}) {
            bar.setPosition(40);
            bar.setMaximum(nothing);
            QVERIFY(bar.maximum() > bar.minimum());
            QCOMPARE(bar.position(), 0);
        }
        bar.reset();  // what the toolkit does to a bar it clears
        QCOMPARE(bar.position(), 0);
    }

    void statusPanelShowsTextAsItIs() {
        StatusPanelControl panel;
        panel.setText(std::string("<b>Erase</b> & verify"));
        QCOMPARE(panel.text(), QString("<b>Erase</b> & verify"));
        QCOMPARE(panel.textFormat(), Qt::PlainText);
    }

    void fileVersionForTheTitle_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("shown");
        QTest::newRow("build version") << "1.64.0.44"
                                       << "1.064";
        QTest::newRow("three digits kept") << "2.123.1.0"
                                           << "2.123";
        QTest::newRow("more than three digits") << "3.1234.0.0"
                                                << "3.1234";
        QTest::newRow("single digit") << "1.5.0.0"
                                      << "1.005";
        QTest::newRow("one dot") << "1.64"
                                 << "1.064";
        QTest::newRow("no dot") << "7"
                                << "7.000";
        QTest::newRow("minor not a number") << "1.x.0.0"
                                            << "1.000";
        QTest::newRow("minor empty") << "1..0.0"
                                     << "1.000";
        QTest::newRow("minor negative") << "1.-4.0"
                                        << "1.000";
        QTest::newRow("no version") << ""
                                    << "";
    }
    void fileVersionForTheTitle() {
        QFETCH(QString, version);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(FormatFileVersion(version.toStdString())), shown);
    }

    void everyIconDrawsSharplyAtAnyScale() {
        const QList<QIcon> icons = {
            ActionIcon(ActionImage::Program),
            ActionIcon(ActionImage::Load),
            ActionIcon(ActionImage::Help),
            ActionIcon(ActionImage::Exit),
            ActionIcon(ActionImage::Stop),
            DialogIcon(DialogPicture::Confirm),
            DialogIcon(DialogPicture::Refuse),
            DialogIcon(DialogPicture::No),
            ProgramIcon(),
        };
        for (const QIcon& icon : icons) {
            QVERIFY(!icon.isNull());
            const QImage normal = icon.pixmap(QSize(32, 32), 1.0).toImage();
            QCOMPARE(normal.size(), QSize(32, 32));
            QVERIFY2(OpaquePixels(normal) > 32 * 32 / 4, "the image is (almost) empty");
            // On a screen at 200 % the icon is drawn anew with twice the pixels.
            const QImage doubled = icon.pixmap(QSize(32, 32), 2.0).toImage();
            QCOMPARE(doubled.size(), QSize(64, 64));
            QVERIFY(OpaquePixels(doubled) > 3 * OpaquePixels(normal));
        }
        // Program and Stop are told apart at a glance.
        QVERIFY(ActionIcon(ActionImage::Program).pixmap(32).toImage() !=
                ActionIcon(ActionImage::Stop).pixmap(32).toImage());
    }

    // One band through a shift's runs: each shows its look and texts, the
    // counts add up, a stop counts for neither, and Reset starts again.
    void resultBandShowsEachRunsEndAndCountsTheBoards() {
        ResultBand band;
        int beeps = 0;
        band.beep = [&] { ++beeps; };
        QCOMPARE(band.state(), QString("idle"));
        const struct {
            Outcome outcome;
            const char* line;
            const char* state;
            const char* headline;
            const char* detail;
            int passed;
            int failed;
        } runs[] = {
            {{RunResult::Success, "", {}, 5.84},
             "Programming succesful",
             "passed",
             "Programming succesful",
             "in 5.8 s",
             1,
             0},
            {{RunResult::ProgrammingError,
              "The board refused to erase sectors 0-9: BUSY (11)",
              {},
              1.0},
             "Programming error",
             "failed",
             "Programming error",
             "The board refused to erase sectors 0-9: BUSY (11)",
             1,
             1},
            {{RunResult::Aborted, "", {}, 2.0}, "", "stopped", "Stopped", "in 2.0 s", 1, 1},
            {{RunResult::PortNotOpened, "No such file or directory", {}, 0},
             "Unable to open port COM3",
             "failed",
             "Unable to open port COM3",
             "No such file or directory",
             1,
             2},
            {{RunResult::Success, "", {}, 0.04},
             "Programming succesful",
             "passed",
             "Programming succesful",
             "in 0.0 s",
             2,
             2},
        };
        for (const auto& run : runs) {
            band.ShowRunning();
            QCOMPARE(band.state(), QString("running"));
            QVERIFY(band.headline().isEmpty());
            band.ShowOutcome(run.outcome, QString::fromLatin1(run.line));
            QCOMPARE(band.state(), QString::fromLatin1(run.state));
            QCOMPARE(band.headline(), QString::fromLatin1(run.headline));
            QCOMPARE(band.detail(), QString::fromLatin1(run.detail));
            QCOMPARE(band.passed(), run.passed);
            QCOMPARE(band.failed(), run.failed);
            QCOMPARE(band.findChild<QLabel*>("ResultCounters")->text(),
                     QString("Passed: %1    Failed: %2").arg(run.passed).arg(run.failed));
            QVERIFY(band.accessibleDescription().startsWith(run.headline));
        }
        QCOMPARE(beeps, 0);  // no sound unless asked for
        band.setSound(true);
        band.ShowOutcome({RunResult::Success, "", {}, 1}, "Programming succesful");
        QCOMPARE(beeps, 1);
        QTest::mouseClick(band.findChild<QPushButton*>("ResetCounters"), Qt::LeftButton);
        QCOMPARE(band.passed(), 0);
        QCOMPARE(band.failed(), 0);
        QCOMPARE(band.findChild<QLabel*>("ResultCounters")->text(),
                 QString("Passed: 0    Failed: 0"));
    }

    void runLogKeepsEveryStatusWithItsTimeAndSavesIt() {
        korvel::test::TempDir dir;
        RunLogPane log;
        QDateTime clock(QDate(2026, 12, 9), QTime(11, 42, 57, 125));
        log.now = [&] {
            clock = clock.addMSecs(1000);
            return clock;
        };
        QSignalSpy folds(&log, &RunLogPane::expandedChanged);
        QVERIFY(!log.expanded());
        QTest::mouseClick(log.findChild<QToolButton*>("RunLogFold"), Qt::LeftButton);
        QVERIFY(log.expanded());
        QCOMPARE(folds.count(), 1);

        log.BeginRun("Run: blinky.pr2 on COM3");
        log.AddStatus("Connecting");
        log.AddStatus("");  // a run clearing its line says nothing
        log.AddStatus("Erasing\r\n: sectors 0-9");
        log.AddOutcome("Programming error: The board refused to erase sectors 0-9: BUSY (11)");
        const QString expected =
            "11:42:58.125  Run: blinky.pr2 on COM3\n"
            "11:42:59.125    Connecting\n"
            "11:43:00.125    Erasing : sectors 0-9\n"
            "11:43:01.125    => Programming error: The board refused to erase sectors 0-9: "
            "BUSY (11)";
        QCOMPARE(log.text(), expected);

        QTest::mouseClick(log.findChild<QPushButton*>("RunLogCopy"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);

        const QString saved = QString::fromStdString(dir.path("log.txt").string());
        log.chooseSaveFile = [&](QWidget*) { return saved; };
        QTest::mouseClick(log.findChild<QPushButton*>("RunLogSave"), Qt::LeftButton);
        // Saved as a text file: with the system's line ends.
        QCOMPARE(QString::fromStdString(dir.read("log.txt")).remove('\r'), expected + "\n");
        // A folder is no file: the reason comes back, nothing is written.
        QString error;
        QVERIFY(!log.SaveTo(QString::fromStdString(dir.path("").string()), error));
        QVERIFY(!error.isEmpty());

        log.setExpanded(false);
        QVERIFY(!log.expanded());
        QCOMPARE(folds.count(), 2);
    }

    // The options go into [KORVEL] only, every other line of the file stays,
    // and they read back as they were written.
    void optionsAreStoredInTheirOwnSectionAndReadBack() {
        korvel::test::TempDir dir;
        const std::string before =
            "; the operator's notes\r\n[SETTINGS]\r\nLastFiles=C:\\FW\\A.PR2\r\nSerialPort=3\r\n"
            "AutoRun=0\r\n[KORVEL]\r\nVerify=1\r\n";
        const std::string ini = dir.write("korvel.ini", before);
        KorvelOptions defaults = LoadKorvelOptions(ini);
        QVERIFY(defaults.verify);
        QCOMPARE(defaults.resetLines, std::string("none"));
        QVERIFY(defaults.messageDialog);
        QVERIFY(!defaults.sound && !defaults.extraBaudRates);
        QVERIFY(defaults.verifyMode == korvel::VerifyMode::Compare);
        QVERIFY(!defaults.askBoardId && !defaults.writeSerial && !defaults.serialFromBoardId);

        KorvelOptions options;
        options.verify = false;
        options.resetLines = "dtr-rts,invert-boot,hold=20";
        options.recordFile = "/var/log/station.jsonl";
        options.sound = true;
        options.messageDialog = false;
        options.extraBaudRates = true;
        options.verifyMode = korvel::VerifyMode::Readback;
        options.askBoardId = true;
        options.writeSerial = true;
        options.serialPlace = "0x1F00:ascii:8";
        options.serialFromBoardId = true;
        options.serialCounter = "/var/lib/station/next-serial";
        for (const char* path :
             {"/a.pr2", "/b.pr2", "/a.pr2", "/c.pr2", "/d.pr2", "/e.pr2", "/f.pr2"}) {
            options.recentPackages = RememberPackage(options.recentPackages, path);
        }
        QCOMPARE(options.recentPackages,
                 (std::vector<std::string>{"/f.pr2", "/e.pr2", "/d.pr2", "/c.pr2", "/a.pr2"}));
        QVERIFY(SaveKorvelOptions(ini, options));
        QCOMPARE(LoadKorvelOptions(ini), options);
        const std::string after = dir.read("korvel.ini");
        QVERIFY2(after.starts_with(before.substr(0, before.find("[KORVEL]"))), after.c_str());
        QVERIFY(after.find("MessageDialog=0\r\n") != std::string::npos);
        QVERIFY(after.find("Recent1=/f.pr2\r\n") != std::string::npos);
        for (const char* line : {"VerifyMode=readback\r\n", "Serial=0x1F00:ascii:8\r\n",
                                 "SerialFrom=board-id\r\n", "AskBoardId=1\r\n"}) {
            QVERIFY2(after.find(line) != std::string::npos, line);
        }
        // A file that is there but cannot be read is not overwritten.
        QVERIFY(!SaveKorvelOptions(dir.path("").string(), options));
    }

    // The dialog shows the wiring as its parts and writes it back as the
    // setting text; a stored text that does not read says so.
    void optionsDialogEditsEveryOption() {
        KorvelOptions given;
        given.resetLines = "dtr-rts,invert-boot,hold=20";
        given.recentPackages = {"/a.pr2"};
        OptionsDialog dialog(given);
        QCOMPARE(dialog.findChild<QComboBox*>("OptionWiring")->currentIndex(), 1);
        QVERIFY(dialog.findChild<QCheckBox*>("OptionInvertBoot")->isChecked());
        QVERIFY(!dialog.findChild<QCheckBox*>("OptionInvertReset")->isChecked());
        QCOMPARE(dialog.findChild<QSpinBox*>("OptionHold")->value(), 20);
        QCOMPARE(dialog.findChild<QSpinBox*>("OptionSettle")->value(), 100);
        QCOMPARE(dialog.options(), given);

        dialog.findChild<QCheckBox*>("OptionInvertReset")->setChecked(true);
        dialog.findChild<QSpinBox*>("OptionSettle")->setValue(250);
        dialog.findChild<QCheckBox*>("OptionSound")->setChecked(true);
        dialog.findChild<QCheckBox*>("OptionMessageDialog")->setChecked(false);
        dialog.findChild<QCheckBox*>("OptionExtraBaudRates")->setChecked(true);
        dialog.chooseRecordFile = [](QWidget*, const QString&) { return QString("/r.jsonl"); };
        QTest::mouseClick(dialog.findChild<QPushButton*>("OptionChooseRecordFile"), Qt::LeftButton);
        KorvelOptions edited = dialog.options();
        QCOMPARE(edited.resetLines,
                 std::string("dtr-rts,invert-reset,invert-boot,hold=20,settle=250"));
        QCOMPARE(edited.recordFile, std::string("/r.jsonl"));
        QVERIFY(edited.sound && !edited.messageDialog && edited.extraBaudRates);
        QCOMPARE(edited.recentPackages, given.recentPackages);
        dialog.findChild<QComboBox*>("OptionWiring")->setCurrentIndex(0);
        QVERIFY(!dialog.findChild<QSpinBox*>("OptionHold")->isEnabled());
        QCOMPARE(dialog.options().resetLines, std::string("none"));

        // The verify mode is offered while verify is on.
        auto* mode = dialog.findChild<QComboBox*>("OptionVerifyMode");
        QVERIFY(!mode->isEnabled());
        dialog.findChild<QCheckBox*>("OptionVerify")->setChecked(true);
        QVERIFY(mode->isEnabled());
        QCOMPARE(mode->currentText(), QString("Compare on the chip (fast)"));
        mode->setCurrentIndex(1);
        QVERIFY(dialog.options().verify &&
                dialog.options().verifyMode == korvel::VerifyMode::Readback);

        // Serial numbers: OK is refused, with the reason, until they can be
        // written; a number from the board id asks for the id.
        auto* problem = dialog.findChild<QLabel*>("OptionSerialProblem");
        auto* place = dialog.findChild<QLineEdit*>("OptionSerialPlace");
        auto* askId = dialog.findChild<QCheckBox*>("OptionAskBoardId");
        QVERIFY(!place->isEnabled());
        dialog.findChild<QCheckBox*>("OptionWriteSerial")->setChecked(true);
        const struct {
            const char* place;
            const char* counter;
            bool fromBoardId;
            const char* problem;  // in the label; "" when OK is taken
        } serials[] = {
            {"", "/c.txt", false, "The serial number's place '' does not read"},
            {"0x1F00:u16le", "/c.txt", false, "The serial number's place '0x1F00:u16le'"},
            {"0x1F00:u32le", "", false, "counter file is not given"},
            {"0x1F00:u32le", "/c.txt", false, ""},
            {"4096:ascii:8", "", true, ""},
        };
        for (const auto& c : serials) {
            OptionsDialog edit(given);
            edit.findChild<QCheckBox*>("OptionWriteSerial")->setChecked(true);
            edit.findChild<QLineEdit*>("OptionSerialPlace")->setText(c.place);
            edit.chooseSerialCounter = [&](QWidget*, const QString&) { return QString(c.counter); };
            QTest::mouseClick(edit.findChild<QPushButton*>("OptionBrowseSerialCounter"),
                              Qt::LeftButton);
            if (c.fromBoardId) {
                edit.findChild<QRadioButton*>("OptionSerialFromBoardId")->setChecked(true);
                QVERIFY(edit.findChild<QCheckBox*>("OptionAskBoardId")->isChecked());
                QVERIFY(!edit.findChild<QCheckBox*>("OptionAskBoardId")->isEnabled());
            }
            edit.accept();
            const QString shown = edit.findChild<QLabel*>("OptionSerialProblem")->text();
            QVERIFY2(c.problem[0] == 0
                         ? edit.result() == QDialog::Accepted
                         : edit.result() != QDialog::Accepted && shown.contains(c.problem),
                     c.place);
        }
        QVERIFY(problem->isHidden() && place->isEnabled() && askId->isEnabled());

        given.resetLines = "dtr-rts,invert";
        OptionsDialog unreadable(given);
        QVERIFY(!unreadable.findChild<QLabel*>("OptionWiringProblem")->isHidden());
        QCOMPARE(unreadable.options().resetLines, std::string("none"));
    }

    void helpIsTheChmBesideTheProgramElseTheManual() {
        korvel::test::TempDir dir;
        const auto at = [&](const std::string& name) {
            return QDir::fromNativeSeparators(QString::fromStdString(dir.path(name).string()));
        };
        std::filesystem::create_directories(dir.path("bin"));
        std::filesystem::create_directories(dir.path("share/doc/korvel"));
        const QString exe = at("bin/korvel");
        QCOMPARE(FindHelpFile(exe), at("bin/korvel.chm"));  // neither: reported missing
        dir.write("share/doc/korvel/manual.html", std::string("<html></html>"));
        QCOMPARE(FindHelpFile(exe), at("share/doc/korvel/manual.html"));
        dir.write("bin/korvel.chm", std::string("ITSF"));
        QCOMPARE(FindHelpFile(exe), at("bin/korvel.chm"));
        QCOMPARE(FindHelpFile(at("bin/korvel.exe")), at("bin/korvel.chm"));
        QCOMPARE(FindHelpFile(QString()), QString());
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"

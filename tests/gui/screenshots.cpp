// korvel-screenshots DIR [--dark] [--suffix TEXT]: renders the main window
// (idle, during a run, after a pass and a failure with the run log open),
// the options, the station after three simulated boards, and every page of
// the message dialog to PNG files in DIR, for the README and for checking
// the layout. --dark renders with a dark palette; with a suffix (the 2x
// pictures, QT_SCALE_FACTOR=2) only the newer views are rendered, their
// names ending in the suffix. Run it with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPalette>
#include <QProgressBar>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/icon_set.h"
#include "app/options_dialog.h"
#include "app/progress_bar_control.h"
#include "app/result_band.h"
#include "app/run_log_pane.h"
#include "app/station_view.h"
#include "app/status_panel_control.h"
#include "app/tfrm_main.h"
#include "app/tfrm_show_message.h"
#include "serial/port_resolver.h"
#include "serial/virtual_serial_device.h"
#include "settings/settings.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/package_writer.h"

namespace {

bool Save(QWidget& widget, const QDir& dir, const QString& name) {
    const QString file = dir.filePath(name);
    if (!widget.grab().save(file)) {
        std::fprintf(stderr, "korvel-screenshots: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

QPalette DarkPalette() {
    QPalette dark;
    const QColor window(45, 45, 48), base(30, 30, 30), text(230, 230, 230);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    return dark;
}

// Serves events until the condition holds or 20 s have gone.
bool ServeUntil(const std::function<bool()>& condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 20000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return condition();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setWindowIcon(korvel::app::ProgramIcon());
    bool dark = false;
    QString suffix;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dark") == 0) {
            dark = true;
        } else if (std::strcmp(argv[i], "--suffix") == 0 && i + 1 < argc) {
            suffix = QString::fromLocal8Bit(argv[++i]);
        } else {
            argc = 0;
        }
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: korvel-screenshots DIR [--dark] [--suffix TEXT]\n");
        return 2;
    }
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(DarkPalette());
        suffix = QStringLiteral("-dark") + suffix;
    }
    // Only the newer views in each variant: the rest look as the light set.
    const bool everything = suffix.isEmpty();
    const auto name = [&](const char* base) {
        return QString::fromLatin1(base) + suffix + QStringLiteral(".png");
    };
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(".")) {
        std::fprintf(stderr, "korvel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }

    // A settings file and a package of its own, so the pictures never depend
    // on the machine.
    QTemporaryDir scratch;
    const QString package = scratch.filePath("blinky-lpc2138.pr2");
    std::vector<std::uint8_t> firmware(1500);
    for (std::size_t i = 0; i < firmware.size(); ++i) {
        firmware[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    {
        const std::string hex = korvel::sim::WriteIntelHex({{0, firmware}});
        const auto bytes = korvel::sim::BuildPackage(
            {{"LPC2138", "1.07", 'F', std::vector<std::uint8_t>(hex.begin(), hex.end())}});
        QFile file(package);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
            return 1;
        }
    }
    korvel::Settings::Initialise(scratch.filePath("korvel.ini").toStdString(),
                                 {"-F" + package.toStdString(), "-C3"}, false);

    // The station's three boards: simulated LPC2138s, the second refusing the erase.
    const korvel::sim::LpcPart& part = *korvel::sim::FindLpcPart("LPC2138");
    korvel::sim::LpcBoard::Options refusing;
    refusing.faults = {korvel::sim::LpcFault::RefuseErase};
    korvel::sim::LpcBoard one(part), two(part, refusing), three(part);
    korvel::sim::LpcBoard* boards[] = {&one, &two, &three};
    using korvel::app::StationView;
    for (int i = 0; i < 3; ++i) {
        korvel::PortResolver::instance().registerDevice(
            StationView::kFirstPortNumber + i,
            [board = boards[i]] { return std::make_unique<korvel::VirtualSerialDevice>(*board); });
    }
    korvel::app::MainWindowHooks hooks;
    hooks.station.listPorts = [] {
        return std::vector<korvel::app::AdapterPort>{
            {"/dev/ttyUSB0", "FT232R USB UART", "0403:6001", "A10K3QZ1"},
            {"/dev/ttyUSB1", "FT232R USB UART", "0403:6001", "A10K3QZ2"},
            {"/dev/ttyUSB2", "CP2102 USB to UART", "10c4:ea60", "0001"}};
    };

    bool ok = true;
    korvel::app::TfrmMain window(hooks);
    window.show();
    QApplication::processEvents();
    if (everything) {
        ok &= Save(window, dir, "main-window.png");
    }

    auto* bar = window.findChild<korvel::app::ProgressBarControl*>("ProgressBar");
    auto* status = window.findChild<korvel::app::StatusPanelControl*>("PanelStatus");
    auto* band = window.findChild<korvel::app::ResultBand*>("ResultBand");
    auto* log = window.findChild<korvel::app::RunLogPane*>("RunLog");
    // A clock of its own: the pictures stay the same from one rendering to the next.
    log->now = [clock = QDateTime(QDate(2026, 12, 9), QTime(9, 41, 12))]() mutable {
        clock = clock.addMSecs(1350);
        return clock;
    };
    window.SetControlsIdle(false);
    band->ShowRunning();
    bar->setPosition(62);
    status->setText(std::string("Programming"));
    if (everything) {
        ok &= Save(window, dir, "main-window-running.png");
    }
    window.SetControlsIdle(true);

    bar->setPosition(bar->maximum());
    status->setText(std::string("Done"));
    band->ShowOutcome({korvel::RunResult::Success, "", {}, 5.8}, "Programming succesful");
    ok &= Save(window, dir, name("main-window-passed"));

    log->BeginRun("Run: blinky-lpc2138.pr2 on COM3");
    for (const char* line : {"Connecting", "Read Info", "Erasing", "Error"}) {
        status->setText(std::string(line));  // the log follows the status line
    }
    log->AddOutcome("Programming error: The board refused to erase sectors 0-9: BUSY (11)");
    log->setExpanded(true);
    bar->setPosition(0);
    band->ShowOutcome({korvel::RunResult::ProgrammingError,
                       "The board refused to erase sectors 0-9: BUSY (11)",
                       {},
                       1.2},
                      "Programming error");
    QApplication::processEvents();
    ok &= Save(window, dir, name("main-window-failed-log"));

    korvel::app::KorvelOptions options;
    options.resetLines = "dtr-rts,invert-boot";
    options.recordFile = "/srv/station/records.jsonl";
    options.extraBaudRates = true;
    options.verify = true;
    options.askBoardId = true;
    options.writeSerial = true;
    options.serialPlace = "0x1F00:u32le";
    options.serialCounter = "/srv/station/serial.txt";
    korvel::app::OptionsDialog optionsDialog(options, &window);
    optionsDialog.show();
    QApplication::processEvents();
    ok &= Save(optionsDialog, dir, name("options"));
    optionsDialog.hide();

    window.ActionStationExecute();
    StationView* station = window.station();
    auto* ports = station->findChild<QListWidget*>("StationPorts");
    for (int i = 0; i < ports->count(); ++i) {
        ports->item(i)->setCheckState(Qt::Checked);
    }
    station->setRecordFile(scratch.filePath("records.jsonl"));
    station->ProgramAll();
    ok &= ServeUntil([&] { return !station->running(); });
    station->resize(station->sizeHint().expandedTo(QSize(820, 420)));
    station->setRecordFile("/srv/station/records.jsonl");
    QApplication::processEvents();
    ok &= Save(*station, dir, name("station"));
    station->close();
    if (!everything) {
        return ok ? 0 : 1;
    }

    using korvel::app::TfrmShowMessage;
    const struct {
        TfrmShowMessage::Kind kind;
        const char* text;
        const char* file;
    } pages[] = {
        {TfrmShowMessage::KindOk, "Programming succesful", "dialog-ok.png"},
        {TfrmShowMessage::KindNo, "Switch the board off and on again", "dialog-no.png"},
        {TfrmShowMessage::KindYesNo, "Erase the whole flash?", "dialog-yes-no.png"},
        {TfrmShowMessage::KindPassword, "Password", "dialog-password.png"},
    };
    for (const auto& page : pages) {
        TfrmShowMessage dialog(nullptr, QString::fromLatin1(page.text), page.kind);
        dialog.show();
        QApplication::processEvents();
        ok &= Save(dialog, dir, QString::fromLatin1(page.file));
        dialog.hide();
    }
    return ok ? 0 : 1;
}

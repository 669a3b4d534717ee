// korvel-screenshots DIR: renders the main window (idle and during a run) and
// every page of the message dialog to PNG files in DIR, for the README and
// for checking the layout. Run it with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/icon_set.h"
#include "app/progress_bar_control.h"
#include "app/status_panel_control.h"
#include "app/tfrm_main.h"
#include "app/tfrm_show_message.h"
#include "settings/settings.h"
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

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setWindowIcon(korvel::app::ProgramIcon());
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvel-screenshots DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(".")) {
        std::fprintf(stderr, "korvel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }

    // A settings file and a package of its own, so the pictures never depend
    // on the machine.
    QTemporaryDir scratch;
    const QString package = scratch.filePath("blinky-lpc2138.pr2");
    {
        const auto bytes =
            korvel::sim::BuildPackage({{"LPC2138", "1.07", 'F', std::vector<std::uint8_t>(64)}});
        QFile file(package);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
            return 1;
        }
    }
    korvel::Settings::Initialise(scratch.filePath("korvel.ini").toStdString(),
                                 {"-F" + package.toStdString(), "-C3"}, false);

    bool ok = true;
    korvel::app::TfrmMain window;
    window.show();
    QApplication::processEvents();
    ok &= Save(window, dir, "main-window.png");

    window.SetControlsIdle(false);
    window.findChild<korvel::app::ProgressBarControl*>("ProgressBar")->setPosition(62);
    window.findChild<korvel::app::StatusPanelControl*>("PanelStatus")
        ->setText(std::string("Programming"));
    ok &= Save(window, dir, "main-window-running.png");
    window.SetControlsIdle(true);

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

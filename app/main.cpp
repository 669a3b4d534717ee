// korvel: the desktop window.
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/icon_set.h"
#include "app/korvel_application.h"
#include "app/single_instance.h"
#include "app/stop_signals.h"
#include "app/tfrm_main.h"
#include "jobs/exit_codes.h"
#include "package/printable_text.h"
#include "serial/usb_port_info.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so it needs no display. A package
    // file of that name can still be opened as ./--version.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korvel %s\n", KORVEL_VERSION);
        return 0;
    }
    korvel::app::KorvelApplication application(argc, argv);
    application.setWindowIcon(korvel::app::ProgramIcon());
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("korvel"));

    // The toolkit has taken its own options (-platform, -style ...) out of
    // argv; what is left is the program's command line, byte for byte.
    const std::vector<std::string> args(argv + 1, argv + argc);
    using korvel::app::SingleInstance;
    // A package as the only argument (a double-click on a .pr2) goes to the
    // window already open, if there is one: one window per user.
    if (args.size() == 1) {
        const QString package = QFileInfo(QFile::decodeName(args[0].c_str())).absoluteFilePath();
        switch (SingleInstance::HandOver(SingleInstance::ServerName(), package)) {
            case SingleInstance::Answer::Loaded:
                return 0;
            case SingleInstance::Answer::Busy:
                std::fprintf(stderr,
                             "korvel: a run is going on in the open window; it keeps its "
                             "package. Load %s there when the run has ended.\n",
                             korvel::PrintableText(args[0]).c_str());
                return 0;
            case SingleInstance::Answer::NotLoaded:
                std::fprintf(stderr, "korvel: the open window could not load %s\n",
                             korvel::PrintableText(args[0]).c_str());
                return korvel::kExitBadPackage;
            case SingleInstance::Answer::NoWindow:
                break;
        }
    }
    korvel::Settings::Initialise(korvel::DefaultSettingsFile(), args, /*readOnly=*/false);
    for (const std::string& warning : korvel::Settings::Instance().warnings()) {
        std::fprintf(stderr, "korvel: %s\n", korvel::PrintableText(warning).c_str());
    }
    korvel::MapSettingsPorts(korvel::Settings::Instance().ports);

    korvel::app::TfrmMain window;
    // Unattended, a supervisor's SIGTERM or a closed session's SIGHUP stops
    // the run in order and ends with 5, as korvel-cli does.
    std::optional<korvel::app::StopSignals> stops;
    if (!korvel::Settings::Instance().unattendedExit.empty()) {
        stops.emplace([&window](int count) {
            korvel::app::StopUnattendedWindow(window, count, [](int code) {
                std::fflush(nullptr);
                std::_Exit(code);
            });
        });
    }
    SingleInstance instance(SingleInstance::ServerName());
    // An unattended window ends after its run: it takes no packages from others.
    if (korvel::Settings::Instance().unattendedExit.empty()) {
        instance.onPackage = [&window](const QString& path) { return window.ReceivePackage(path); };
        instance.Listen();
    }
    window.show();
    return application.exec();
}

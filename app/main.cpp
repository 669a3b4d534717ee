// korvel: the desktop window.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/icon_set.h"
#include "app/korvel_application.h"
#include "app/stop_signals.h"
#include "app/tfrm_main.h"
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
    window.show();
    return application.exec();
}

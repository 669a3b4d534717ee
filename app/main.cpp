// korvel: the desktop window.
#include <string>
#include <vector>

#include "app/icon_set.h"
#include "app/korvel_application.h"
#include "app/tfrm_main.h"
#include "serial/port_resolver.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
    korvel::app::KorvelApplication application(argc, argv);
    application.setWindowIcon(korvel::app::ProgramIcon());

    // The toolkit has taken its own options (-platform, -style ...) out of
    // argv; what is left is the program's command line, byte for byte.
    const std::vector<std::string> args(argv + 1, argv + argc);
    korvel::Settings::Initialise(korvel::DefaultSettingsFile(), args, /*readOnly=*/false);
    for (const auto& [number, path] : korvel::Settings::Instance().ports) {
        korvel::PortResolver::instance().mapPath(number, path);
    }

    korvel::app::TfrmMain window;
    window.show();
    return application.exec();
}

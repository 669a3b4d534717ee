#pragma once

#include <QString>

namespace korvel::app {

// The help F1 opens for the program at executablePath: korvel.chm beside it
// where there is one (Windows), else the HTML manual built and installed
// with it (share/doc/korvel/manual.html above the program's folder). When
// neither is there: the .chm's path, which then is reported missing.
QString FindHelpFile(const QString& executablePath);

}  // namespace korvel::app

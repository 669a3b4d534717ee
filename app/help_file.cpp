#include "app/help_file.h"

#include <QDir>
#include <QFileInfo>

namespace korvel::app {

QString FindHelpFile(const QString& executablePath) {
    if (executablePath.isEmpty()) {
        return {};
    }
    const QFileInfo program(executablePath);
    const QString chm = program.dir().filePath(program.completeBaseName() + QStringLiteral(".chm"));
    if (QFileInfo(chm).isFile()) {
        return chm;
    }
    // Installed: bin/korvel and share/doc/korvel/; built: the same layout
    // under the build folder.
    const QString manual =
        QDir::cleanPath(program.dir().filePath(QStringLiteral("../share/doc/korvel/manual.html")));
    if (QFileInfo(manual).isFile()) {
        return manual;
    }
    return chm;
}

}  // namespace korvel::app

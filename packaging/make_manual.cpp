// Builds the HTML manual that F1 opens where no korvel.chm is: the README's
// user sections and the manual pages as text, in one page.
// make_manual README.md OUT.html [PAGE.txt ...]
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QTextDocument>
#include <cstdio>

namespace {

// The README's sections for people who use Korvel, not for those who build it.
const QStringList kUserSections = {QStringLiteral("Using it"), QStringLiteral("Installing"),
                                   QStringLiteral("Troubleshooting"), QStringLiteral("Production")};

QString ReadText(const QString& path, bool& ok) {
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly | QIODevice::Text);
    return ok ? QString::fromUtf8(file.readAll()) : QString();
}

// The "## " sections named in kUserSections, each with its subsections.
// Pictures are left out: the manual travels without them.
QString UserSections(const QString& readme) {
    QString kept;
    bool keep = false;
    bool fenced = false;
    for (const QString& line : readme.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```"))) {
            fenced = !fenced;
        }
        if (!fenced && line.startsWith(QLatin1String("## "))) {
            keep = kUserSections.contains(line.mid(3).trimmed());
        }
        if (keep && !line.startsWith(QLatin1String("!["))) {
            kept += line + QLatin1Char('\n');
        }
    }
    return kept;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: make_manual README.md OUT.html [PAGE.txt ...]\n");
        return 64;
    }
    bool ok = false;
    const QString readme = ReadText(args[1], ok);
    if (!ok) {
        std::fprintf(stderr, "make_manual: cannot read %s\n", qPrintable(args[1]));
        return 66;
    }
    QString markdown = QStringLiteral("# Korvel manual\n\n") + UserSections(readme);
    for (qsizetype i = 3; i < args.size(); ++i) {
        const QString page = ReadText(args[i], ok);
        if (!ok) {
            std::fprintf(stderr, "make_manual: cannot read %s\n", qPrintable(args[i]));
            return 66;
        }
        markdown += QStringLiteral("\n## %1(1)\n\n```\n%2```\n")
                        .arg(QFileInfo(args[i]).completeBaseName(), page);
    }
    QTextDocument document;
    document.setMarkdown(markdown);
    document.setMetaInformation(QTextDocument::DocumentTitle, QStringLiteral("Korvel manual"));
    QFile out(args[2]);
    const QByteArray html = document.toHtml().toUtf8();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(html) != html.size()) {
        std::fprintf(stderr, "make_manual: cannot write %s\n", qPrintable(args[2]));
        return 73;
    }
    return 0;
}

#include "Platform/qt/CommandLine.hpp"

#include <QCommandLineParser>
#include <QStringList>

namespace quellan::qt {

CommandLineAnswer readCommandLine(int argc, const char* const* argv, const std::string& version) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps the number of visible application windows under a limit: it minimizes the windows "
                       "used least recently beyond it, and optionally those left alone for a while. It lives in "
                       "the system tray; its menu holds every setting. See quellan(1)."));
    // Qt's own help option would also offer --help-all, for options Quellan does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help and exits."));
    parser.addOption(help);
    const QCommandLineOption versionOption = parser.addVersionOption();
    const auto refuse = [](QString why) {
        // Qt says "Unknown option 'x'.": one clause of the line.
        if (why.endsWith(u'.')) why.chop(1);
        if (!why.isEmpty()) why[0] = why[0].toLower();
        return CommandLineAnswer{2, "quellan: " + why.toStdString() + "; \"quellan --help\" lists what it takes.\n"};
    };
    // Parsed without an application object: a --help must answer where there is no display.
    if (!parser.parse(arguments)) return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        // Without an application object Qt has no name for the program.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("quellan"));
        return {0, text.toStdString()};
    }
    if (parser.isSet(versionOption)) return {0, "quellan " + version + "\n"};
    return {};
}

} // namespace quellan::qt

// morven-update-tool: the window, or its help and version on the command line.
#include "app/frmmain.h"
#include "cmdline/cmdline.h"
#include "link/qtserialcomponent.h"
#include "link/qtsocketcomponent.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    const QString name = QStringLiteral("morven-update-tool");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Updates an embedded target's firmware through its bootloader, over a serial port or TCP.\n"
        "Without options it opens its window; the toolkit's own options (-platform, -style, ...) apply."));
    // "-reverse" is a toolkit option, not -r -e -v ...: read single-dash words whole.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version."));
    parser.addOptions({help, version});

    if (const std::optional<int> answered = morven::cli::answerHelpOrVersion(parser, argc, argv, name))
        return *answered;

    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    if (!parser.parse(QCoreApplication::arguments()))
        return morven::cli::usageError(name, parser.errorText());
    if (const auto stray = morven::cli::strayArguments(parser))
        return morven::cli::usageError(name, *stray);
    morven::FrmMain window(
        std::make_unique<morven::QtSerialComponent>(), std::make_unique<morven::QtSocketComponent>());
    window.show();
    return app.exec();
}

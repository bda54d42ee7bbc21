// morven-station: the production station's window, or its help and version on the command line.
#include "cmdline/cmdline.h"
#include "stationwindow/stationwindow.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    const QString name = QStringLiteral("morven-station");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The production station: flashes many boards at once, one tile per fixture position, each board "
        "starting by itself, with a record of every unit.\nThe toolkit's own options (-platform, -style, ...) "
        "apply."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version."));
    const QCommandLineOption records(QStringLiteral("records"),
        QStringLiteral("Where the unit records go: a SQLite file (default: the user's data folder) or a shared "
                       "PostgreSQL database, postgresql://user@host:port/database."),
        QStringLiteral("where"));
    const QCommandLineOption operatorName(
        QStringLiteral("operator"), QStringLiteral("The operator's name, kept in every record."), QStringLiteral("name"));
    parser.addOptions({help, version, records, operatorName});
    parser.addPositionalArgument(QStringLiteral("recipe"), QStringLiteral("The recipe to open (a JSON file)."),
        QStringLiteral("[recipe]"));

    if (const std::optional<int> answered = morven::cli::answerHelpOrVersion(parser, argc, argv, name))
        return *answered;

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    if (!parser.parse(QCoreApplication::arguments()))
        return morven::cli::usageError(name, parser.errorText());
    if (const auto stray = morven::cli::strayArguments(parser, 1))
        return morven::cli::usageError(name, *stray);
    morven::station::StationOptions options;
    options.records = parser.value(records);
    options.operatorName = parser.value(operatorName);
    morven::stationwindow::StationWindow window(options);
    window.show();
    if (!parser.positionalArguments().isEmpty())
        (void)window.openRecipe(parser.positionalArguments().constFirst());
    return app.exec();
}

// What the window, morvenctl and morven-sim share about their command lines.
#include "cmdline/cmdline.h"

#include "version.h"

#include <QCommandLineParser>

#include <cstdio>

namespace morven::cli {

void fail(int code, const QString &message)
{
    throw Failure{code, message};
}

void misuse(const QString &what)
{
    throw Failure{BadUsage, what, true};
}

int usageError(const QString &program, const QString &what)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(program), qPrintable(what), qPrintable(program));
    return BadUsage;
}

int runProgram(const QString &program, const std::function<int()> &command)
{
    try {
        return command();
    } catch (const Failure &f) {
        if (f.usage)
            return usageError(program, f.message);
        if (!f.message.isEmpty())
            std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(f.message));
        return f.code;
    }
}

std::optional<QString> strayArguments(const QCommandLineParser &parser, qsizetype maximum)
{
    const QStringList stray = parser.positionalArguments().mid(maximum);
    if (stray.isEmpty())
        return std::nullopt;
    return QStringLiteral("unexpected argument%1 '%2'")
        .arg(stray.size() > 1 ? QStringLiteral("s") : QString(), stray.join(QLatin1String("' '")));
}

std::optional<int> answerHelpOrVersion(QCommandLineParser &parser, int argc, char *argv[], const QString &program)
{
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    parser.parse(raw);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(helpText(parser, program)), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(program), MORVEN_VERSION);
        return 0;
    }
    return std::nullopt;
}

QString helpText(const QCommandLineParser &parser, const QString &program)
{
    // The parser names the executable by its path, or by a placeholder before the application
    // object exists; people type the program's name.
    QString text = parser.helpText();
    const QLatin1String usage("Usage: ");
    const qsizetype end = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(usage) && end >= usage.size())
        text.replace(usage.size(), end - usage.size(), program);
    return text;
}

} // namespace morven::cli

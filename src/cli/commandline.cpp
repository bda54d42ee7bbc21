// morvenctl's command lines: help, version, option values and their errors.
#include "cli/commandline.h"

#include "version.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdio>

namespace morven::cli {

CommandLine::CommandLine(const QString &command, const QString &description)
    : command_(command)
{
    parser_.setApplicationDescription(description);
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addOption(help_);
    parser_.addOption(version_);
}

void CommandLine::positional(const QString &name, const QString &description, int minimum, int maximum)
{
    parser_.addPositionalArgument(name, description, maximum > 1 ? name + QLatin1String("...") : name);
    positionalName_ = name;
    minimum_ = minimum;
    maximum_ = maximum;
}

bool CommandLine::parse(const QStringList &args)
{
    if (!parser_.parse(args))
        misuse(parser_.errorText());
    if (parser_.isSet(help_)) {
        std::fputs(qPrintable(helpText(parser_, QLatin1String("morvenctl ") + command_)), stdout);
        return false;
    }
    if (parser_.isSet(version_)) {
        std::printf("morvenctl %s\n", MORVEN_VERSION);
        return false;
    }
    if (const auto stray = strayArguments(parser_, maximum_))
        misuse(*stray);
    if (parser_.positionalArguments().size() < minimum_)
        misuse(QStringLiteral("give the %1").arg(positionalName_));
    return true;
}

int CommandLine::integer(const QCommandLineOption &o, const char *what, int minimum, int maximum) const
{
    const QString text = parser_.value(o).trimmed();
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok);
    if (!ok || n < minimum || n > maximum)
        misuse(QStringLiteral("--%1: '%2' is not %3 (%4 to %5)")
                   .arg(o.names().constLast(), parser_.value(o), QLatin1String(what))
                   .arg(minimum)
                   .arg(maximum));
    return int(n);
}

int CommandLine::seconds(const QCommandLineOption &o, double minimum) const
{
    bool ok = false;
    const double s = parser_.value(o).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(s) || s < minimum || s > 24 * 3600.0 * 365)
        misuse(QStringLiteral("--%1: '%2' is not a number of seconds").arg(o.names().constLast(), parser_.value(o)));
    return int(std::lround(s * 1000.0));
}

std::uint32_t CommandLine::address(const QCommandLineOption &o) const
{
    const QString text = parser_.value(o).trimmed();
    bool ok = false;
    const qulonglong a = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toULongLong(&ok, 16)
                                                                                   : text.toULongLong(&ok, 10);
    if (!ok || a > 0xFFFFFFFFull)
        misuse(QStringLiteral("--%1: '%2' is not an address (hexadecimal with 0x, or decimal, below 4 GiB)")
                   .arg(o.names().constLast(), parser_.value(o)));
    return std::uint32_t(a);
}

QStringList environmentList(const char *name)
{
    return qEnvironmentVariable(name).split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
}

} // namespace morven::cli

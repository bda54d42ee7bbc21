// morvenctl's command lines: help, version, option values and their errors.
#pragma once

#include "cmdline/cmdline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace morven::cli {

// A subcommand's command line with morvenctl's conventions on top of QCommandLineParser:
// --help and --version everywhere, errors that name the option at fault, no stray argument. Every
// error of the command line and its values ends the command through misuse().
class CommandLine
{
public:
    CommandLine(const QString &command, const QString &description);

    void add(const QCommandLineOption &option) { parser_.addOption(option); }
    void positional(const QString &name, const QString &description, int minimum, int maximum);

    // False when --help or --version has been answered.
    [[nodiscard]] bool parse(const QStringList &args);

    bool isSet(const QCommandLineOption &o) const { return parser_.isSet(o); }
    QString value(const QCommandLineOption &o) const { return parser_.value(o); }
    QStringList values(const QCommandLineOption &o) const { return parser_.values(o); }
    QStringList arguments() const { return parser_.positionalArguments(); }

    // The option's value as a whole number in [minimum, maximum]; `what` names what it must be
    // ("a number of milliseconds").
    int integer(const QCommandLineOption &o, const char *what, int minimum, int maximum) const;
    // Seconds, fractions allowed, as milliseconds.
    int seconds(const QCommandLineOption &o, double minimum) const;
    // A 32-bit address, hexadecimal with 0x or decimal.
    std::uint32_t address(const QCommandLineOption &o) const;

private:
    QString command_;
    QCommandLineParser parser_;
    QCommandLineOption help_{{"h", "help"}, "Show this help."};
    QCommandLineOption version_{{"V", "version"}, "Show the version."};
    int minimum_ = 0;
    int maximum_ = 0;
    QString positionalName_;
};

// A setting from the environment, for options people repeat on every call; the command line
// wins over it. Several values may be given separated by commas or blanks.
QStringList environmentList(const char *name);

} // namespace morven::cli

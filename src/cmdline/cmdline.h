// What the window, morvenctl and morven-sim share about their command lines: a bad one reads
// the same in all three, and a command that cannot go on ends the same way.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QCommandLineParser;

namespace morven::cli {

// The exit status of a bad command line, in every program.
inline constexpr int BadUsage = 2;

// Ends a command from wherever it finds that it cannot go on; the program's main prints it once
// (runProgram). `usage`: the command line is at fault, so the hint to --help follows.
struct Failure
{
    int code;
    QString message;
    bool usage = false;
};
[[noreturn]] void fail(int code, const QString &message);
// A bad option, option value or argument, or one that is missing: `what` names it and what it wants.
[[noreturn]] void misuse(const QString &what);

// Prints "PROGRAM: what" and "Try 'PROGRAM --help'." on stderr; returns BadUsage.
int usageError(const QString &program, const QString &what);

// Runs `command` and returns its exit status; a Failure that ends it is printed as
// "PROGRAM: message" (with the hint to --help when the command line is at fault).
int runProgram(const QString &program, const std::function<int()> &command);

// What is wrong when the parser holds more positional arguments than `maximum`.
std::optional<QString> strayArguments(const QCommandLineParser &parser, qsizetype maximum = 0);

// The parser's help text, naming `program` where the parser would name the executable's path.
QString helpText(const QCommandLineParser &parser, const QString &program);

// For a window program: answers -h/--help and -v/--version (which `parser` must hold) before
// any application object exists, so they need no display, and returns the exit status; nothing
// when neither was asked. The toolkit's options are unknown here, so errors wait for the
// application object to take those out.
std::optional<int> answerHelpOrVersion(QCommandLineParser &parser, int argc, char *argv[], const QString &program);

} // namespace morven::cli

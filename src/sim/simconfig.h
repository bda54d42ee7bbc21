// The simulated target's command line and its endpoints.
#pragma once

#include "sim/simtarget.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace morven::sim {

// Everything a simulator executable is told on its command line.
struct SimConfig
{
    Options bootloader;
    TransportOptions transport;

    bool tcp = false;
    QHostAddress host = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0; // 0: any free port
    bool pty = false;

    QString saveFile; // accepted lines go here, CR LF each; empty: not saved
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Parses `args` as QCoreApplication::arguments() gives them (the program name first). A command
// line that makes no sense ends the command through cli::misuse(), naming what is wrong. Without
// --help or --version, at least one of --tcp and --pty is required.
SimConfig parseSimArguments(const QStringList &args);

// The text --help prints.
QString simUsage(const QString &programName);

// Opens the endpoints that `config` asks for on `target` and gives one line per endpoint for
// the caller to print ("listening on 127.0.0.1:7776", "serial device /dev/pts/7"). An endpoint
// that cannot be opened ends the command (cli::Failure, exit status 1).
QStringList startSim(SimTarget &target, const SimConfig &config);

// Writes the lines with CR LF after each; returns why it could not. Saving also happens while the
// target serves, where a failure is told and the target goes on: it does not end the command.
[[nodiscard]] std::optional<QString> saveLines(const std::vector<std::string> &lines, const QString &path);

} // namespace morven::sim

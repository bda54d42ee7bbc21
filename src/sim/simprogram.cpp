// The simulated target as a program: options, endpoints, signals and saving.
#include "sim/simprogram.h"

#include "cmdline/cmdline.h"
#include "sim/simconfig.h"
#include "sim/simtarget.h"
#include "version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace morven::sim {

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up and quits.
void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void catchSignals()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0
        || ::sigaction(SIGTERM, &action, nullptr) != 0)
        cli::fail(1, QStringLiteral("cannot catch signals"));
}

void printLine(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void save(const SimTarget &target, const QString &path)
{
    if (const auto error = saveLines(target.bootloader().acceptedLines(), path))
        printLine(stderr, QStringLiteral("cannot save %1: %2").arg(path, *error));
}

} // namespace

int runSimProgram(const QStringList &args, const QString &name)
{
    QCoreApplication *app = QCoreApplication::instance();
    const SimConfig config = parseSimArguments(args);
    if (config.help) {
        std::fputs(simUsage(name).toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (config.version) {
        // "morvenctl sim --version" is morvenctl's version, which is the same.
        printLine(
            stdout, QStringLiteral("%1 %2").arg(name.section(QLatin1Char(' '), 0, 0), QLatin1String(MORVEN_VERSION)));
        return 0;
    }
    catchSignals();
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, app, [] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) { }
        QCoreApplication::quit();
    });

    SimTarget target(config.bootloader, config.transport);
    if (config.verbose) {
        QObject::connect(&target, &SimTarget::frameReceived, app,
            [](const QByteArray &frame) { printLine(stderr, QStringLiteral("<- ") + QString::fromLatin1(frame)); });
        QObject::connect(&target, &SimTarget::replySent, app,
            [](const QByteArray &reply) { printLine(stderr, QStringLiteral("-> ") + QString::fromLatin1(reply)); });
        QObject::connect(&target, &SimTarget::logMessage, app,
            [](const QString &text) { printLine(stderr, QStringLiteral("   ") + text); });
        QObject::connect(
            &target, &SimTarget::clientConnected, app, [] { printLine(stderr, QStringLiteral("client connected")); });
        QObject::connect(&target, &SimTarget::clientDisconnected, app,
            [] { printLine(stderr, QStringLiteral("client disconnected")); });
        QObject::connect(
            &target, &SimTarget::clientDropped, app, [] { printLine(stderr, QStringLiteral("line dropped")); });
    }
    if (!config.saveFile.isEmpty()) {
        QObject::connect(
            &target, &SimTarget::downloadCompleted, app, [&target, &config] { save(target, config.saveFile); });
    }

    for (const QString &line : startSim(target, config))
        printLine(stdout, line);

    const int rc = QCoreApplication::exec();
    if (!config.saveFile.isEmpty())
        save(target, config.saveFile);
    return rc;
}

} // namespace morven::sim

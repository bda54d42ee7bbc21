// morvenctl flash, ping and erase: one job per target, all at once, on the same session rules
// as the window.
#include "cli/commands.h"
#include "station/flashjob.h"
#include "cli/inputfile.h"
#include "cli/interrupts.h"
#include "cli/reporter.h"
#include "station/trace.h"
#include "link/endpoint.h"
#include "link/serialports.h"

#include <QCoreApplication>
#include <QTimer>

#include <memory>

namespace morven::cli {

namespace {

// How to reach the targets and how long to wait for them: the options flash, ping and erase
// share. MORVENCTL_TCP, MORVENCTL_SERIAL and MORVENCTL_BAUD stand in for the options when
// these are not given.
struct LinkOptions
{
    QCommandLineOption tcp{"tcp", "A target at HOST:PORT over TCP; may be given several times.", "host:port"};
    QCommandLineOption serial{"serial",
        "A target on this serial device, or on the USB adapter with this serial number (usb:SERIAL); may be given "
        "several times.",
        "device"};
    QCommandLineOption baud{"baud", "Serial bit rate (default 115200).", "rate", "115200"};
    QCommandLineOption replyTimeout{
        "reply-timeout", "Milliseconds to wait for each reply (default 2000).", "ms", "2000"};
    QCommandLineOption waitTimeout{"wait-timeout", "Seconds to wait for the bootloader (default 30).", "s", "30"};
    QCommandLineOption probe{
        "probe-interval", "Milliseconds between link tests while waiting (default 200).", "ms", "200"};
    QCommandLineOption timeout{"timeout", "Seconds for the whole run, 0 for no limit (default 3600).", "s", "3600"};
    QCommandLineOption json{"json", "Write events as JSON lines on standard output."};
    QCommandLineOption quiet{{"q", "quiet"}, "Print errors only."};
    QCommandLineOption trace{"trace", "Log every frame sent and received, with the time and the target, on stderr."};
    QCommandLineOption log{"log", "Append the same frame log to this file.", "file"};

    void addTo(CommandLine &cl) const
    {
        for (const QCommandLineOption *o :
            {&tcp, &serial, &baud, &replyTimeout, &waitTimeout, &probe, &timeout, &json, &quiet, &trace, &log})
            cl.add(*o);
    }
};

// Runs one job per target to the end and returns the exit status of the first that failed
// (in the order given), or 128 + the signal when the run was interrupted.
int runJobs(const CommandLine &cl, const LinkOptions &lo, const LineStore &lines, const FlashSession::Options &options)
{
    JobTiming timing;
    timing.replyTimeoutMs = cl.integer(lo.replyTimeout, "a number of milliseconds", 1, 3600000);
    timing.probeIntervalMs = cl.integer(lo.probe, "a number of milliseconds", 1, 3600000);
    timing.waitTimeoutMs = std::max(1, cl.seconds(lo.waitTimeout, 0));
    const int overallMs = cl.seconds(lo.timeout, 0);

    QStringList tcp = cl.values(lo.tcp);
    QStringList serial = cl.values(lo.serial);
    const bool fromEnvironment = tcp.isEmpty() && serial.isEmpty();
    if (fromEnvironment) {
        tcp = environmentList("MORVENCTL_TCP");
        serial = environmentList("MORVENCTL_SERIAL");
    }
    if (tcp.isEmpty() && serial.isEmpty())
        misuse(QStringLiteral(
            "give a target: --tcp HOST:PORT or --serial DEVICE (or set MORVENCTL_TCP or MORVENCTL_SERIAL)"));
    int baud = 0;
    if (cl.isSet(lo.baud) || qEnvironmentVariableIsEmpty("MORVENCTL_BAUD")) {
        baud = cl.integer(lo.baud, "a bit rate", 1, 100000000);
    } else {
        bool ok = false;
        baud = qEnvironmentVariable("MORVENCTL_BAUD").trimmed().toInt(&ok);
        if (!ok || baud < 1)
            fail(BadInput,
                QStringLiteral("MORVENCTL_BAUD: '%1' is not a bit rate").arg(qEnvironmentVariable("MORVENCTL_BAUD")));
    }

    std::vector<std::unique_ptr<StreamLink>> links;
    for (const QString &endpoint : tcp) {
        const std::optional<Endpoint> at = parseEndpoint(endpoint);
        if (!at && fromEnvironment)
            fail(BadInput, QStringLiteral("MORVENCTL_TCP: '%1' is not HOST:PORT").arg(endpoint));
        if (!at)
            misuse(QStringLiteral("--tcp: '%1' is not HOST:PORT").arg(endpoint));
        links.push_back(std::make_unique<TcpStreamLink>(
            at->host, at->port, options.waitForBootloader ? timing.waitTimeoutMs : timing.replyTimeoutMs));
    }
    const QList<SerialPortRow> ports = std::any_of(serial.begin(), serial.end(),
                                           [](const QString &s) { return s.startsWith(QLatin1String("usb:")); })
        ? listSerialPorts()
        : QList<SerialPortRow>();
    for (const QString &wanted : serial) {
        QString device;
        if (const auto why = resolveSerialDevice(wanted, ports, device))
            fail(LinkFailed, QStringLiteral("--serial %1: %2").arg(wanted, *why));
        links.push_back(std::make_unique<SerialStreamLink>(device, baud));
    }

    Trace trace;
    if (const auto why = trace.open(cl.isSet(lo.trace), cl.value(lo.log)))
        fail(BadInput, QStringLiteral("--log: %1").arg(*why));

    std::vector<std::unique_ptr<FlashJob>> jobs;
    for (auto &link : links)
        jobs.push_back(
            std::make_unique<FlashJob>(std::move(link), lines, options, timing, trace.enabled() ? &trace : nullptr));

    Reporter reporter(cl.isSet(lo.json), cl.isSet(lo.quiet));
    std::size_t running = jobs.size();
    for (auto &job : jobs) {
        reporter.add(job.get());
        QObject::connect(job.get(), &FlashJob::finished, job.get(), [&running] {
            if (--running == 0)
                QCoreApplication::quit();
        });
    }
    QTimer overallTimer;
    overallTimer.setSingleShot(true);
    QObject::connect(&overallTimer, &QTimer::timeout, &overallTimer, [&jobs, overallMs] {
        for (auto &job : jobs)
            job->abort(OverallTimeout, QStringLiteral("not finished after %1 s").arg(overallMs / 1000.0));
    });
    if (overallMs > 0)
        overallTimer.start(overallMs);
    int signalled = 0;
    Interrupts interrupts;
    QObject::connect(&interrupts, &Interrupts::interrupted, &interrupts, [&](int number) {
        signalled = number;
        for (auto &job : jobs)
            job->abort(128 + number, QStringLiteral("interrupted"));
    });
    for (auto &job : jobs)
        job->start();
    QCoreApplication::exec();
    reporter.summary();
    if (signalled)
        return 128 + signalled;
    for (auto &job : jobs)
        if (job->result() != Ok)
            return job->result();
    return Ok;
}

} // namespace

int runFlash(const QStringList &args)
{
    CommandLine cl(QStringLiteral("flash"),
        QStringLiteral("Updates targets: waits for the bootloader, erases the flash, announces the download and "
                       "sends the file line by line, each line at most 11 times. The file is checked completely "
                       "before any link is opened."));
    const LinkOptions lo;
    lo.addTo(cl);
    const InputFileOptions io;
    io.addTo(cl, true);
    const QCommandLineOption noWait("no-wait", "Do not wait for the bootloader with link tests.");
    const QCommandLineOption noErase("no-erase", "Do not erase the flash first.");
    const QCommandLineOption oDownload(
        "o-download", "Announce an \"O\" download (the default follows the lines: \"O\" for :O lines, else \"W\").");
    for (const QCommandLineOption *o : {&noWait, &noErase, &oDownload})
        cl.add(*o);
    cl.positional(QStringLiteral("file"),
        QStringLiteral("The download lines, one per line; or records to convert, with --format; - for standard input."),
        1, 1);
    if (!cl.parse(args))
        return Ok;
    const InputOptions inputOptions = io.read(cl, true);

    // Everything about the file is settled before any target is touched.
    LineStore lines;
    FirmwareInput input(inputOptions, [&](std::string_view line) { lines.append(line); });
    readInput(cl.arguments().constFirst(), input);
    if (lines.size() > MaxDownloadLines)
        fail(BadInput,
            QStringLiteral("%1: %2 lines: one download can send at most %3")
                .arg(cl.arguments().constFirst())
                .arg(lines.size())
                .arg(MaxDownloadLines));

    FlashSession::Options options;
    options.waitForBootloader = !cl.isSet(noWait);
    options.erase = cl.isSet(noErase) ? FlashSession::Erase::None : FlashSession::Erase::Flash;
    options.kind = cl.isSet(oDownload) || input.letter() == 'O' ? 'O' : 'W';
    return runJobs(cl, lo, lines, options);
}

int runPing(const QStringList &args)
{
    CommandLine cl(QStringLiteral("ping"),
        QStringLiteral("Sends link tests until the bootloader answers or --wait-timeout passes."));
    const LinkOptions lo;
    lo.addTo(cl);
    if (!cl.parse(args))
        return Ok;
    const LineStore none;
    FlashSession::Options options;
    options.erase = FlashSession::Erase::None;
    options.download = false;
    return runJobs(cl, lo, none, options);
}

int runErase(const QStringList &args)
{
    CommandLine cl(
        QStringLiteral("erase"), QStringLiteral("Erases the target's program flash, or with --data its data area."));
    const LinkOptions lo;
    lo.addTo(cl);
    const QCommandLineOption data("data", "Erase the data area instead of the program flash.");
    const QCommandLineOption wait("wait", "Wait for the bootloader with link tests first.");
    cl.add(data);
    cl.add(wait);
    if (!cl.parse(args))
        return Ok;
    const LineStore none;
    FlashSession::Options options;
    options.waitForBootloader = cl.isSet(wait);
    options.erase = cl.isSet(data) ? FlashSession::Erase::Data : FlashSession::Erase::Flash;
    options.download = false;
    return runJobs(cl, lo, none, options);
}

} // namespace morven::cli

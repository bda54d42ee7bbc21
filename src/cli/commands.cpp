#include "commands.h"

#include "conversion.h"
#include "flashjob.h"
#include "listfiles.h"
#include "reporter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace morven::cli {

const char *usage()
{
    return "usage: morvenctl <command> [options]\n"
           "\n"
           "commands:\n"
           "  convert  turn Intel HEX records into :O or :W download lines\n"
           "  flash    update one or more targets with a download file\n"
           "  ping     send link tests until the bootloader answers\n"
           "  erase    erase the target's flash (or, with --data, its data area)\n"
           "  sim      run a simulated target\n"
           "\n"
           "'morvenctl <command> --help' describes each command; exit codes are in morvenctl(1).\n";
}

namespace {

int fail(ExitCode code, const QString &message)
{
    std::fprintf(stderr, "morvenctl: %s\n", qPrintable(message));
    return code;
}

// Parses the subcommand's options; prints help and returns Ok through `exit` when asked.
bool parse(QCommandLineParser &parser, const QStringList &args, const QString &description, int &exit)
{
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    parser.addOption(help);
    if (!parser.parse(args)) {
        exit = fail(BadInput, parser.errorText() + QStringLiteral(" (see --help)"));
        return false;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(QCoreApplication::arguments().constFirst(), QLatin1String("morvenctl ") + args.value(0));
        std::fputs(qPrintable(text), stdout);
        exit = Ok;
        return false;
    }
    return true;
}

bool formatFrom(const QString &text, Format &format)
{
    const QString t = text.toLower();
    if (t == QLatin1String("o"))
        format = Format::O;
    else if (t == QLatin1String("w"))
        format = Format::W;
    else if (t == QLatin1String("pw"))
        format = Format::PW;
    else
        return false;
    return true;
}

// Reads a list file; false with a message when it cannot be read.
bool loadLines(const QString &path, LineStore &lines, QString &error)
{
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    FileBytes file = readFileBytes(path);
    if (!file.complete) {
        error = QStringLiteral("%1: cannot be read").arg(path);
        return false;
    }
    if (!lines.canAppend(file.bytes.size())) {
        error = QStringLiteral("%1: too large").arg(path);
        return false;
    }
    lines.appendFileBytes(std::move(file.bytes));
    return true;
}

// The same lines as the window's conversion buttons give.
bool convertLines(const LineStore &records, Format format, LineStore &out, QString &error)
{
    Workspace ws;
    ConversionResult result = convertRecords(ws, records, format);
    if (result.error) {
        error = QString::fromStdString(result.error->message);
        return false;
    }
    out = std::move(result.lines);
    return true;
}

} // namespace

int runConvert(const QStringList &args)
{
    QCommandLineParser p;
    const QCommandLineOption formatOption(
        {"f", "format"}, "o, w or pw: the lines of Fmt_O_data, Fmt_W_data or Fmt_PW_data.", "format");
    const QCommandLineOption outputOption(
        {"o", "output"}, "Write the lines here instead of to standard output.", "file");
    p.addOption(formatOption);
    p.addOption(outputOption);
    p.addPositionalArgument("input", "A file of Intel HEX records.");
    int exit = Ok;
    if (!parse(p, args, "Converts Intel HEX records into packed, CRC-protected download lines.", exit))
        return exit;
    Format format;
    if (!p.isSet(formatOption) || !formatFrom(p.value(formatOption), format))
        return fail(BadInput, "convert needs --format o, w or pw");
    if (p.positionalArguments().size() != 1)
        return fail(BadInput, "convert needs exactly one input file");
    LineStore records;
    LineStore lines;
    QString error;
    if (!loadLines(p.positionalArguments()[0], records, error) || !convertLines(records, format, lines, error))
        return fail(BadInput, error);

    if (!p.isSet(outputOption)) {
        writeItems(lines, [](std::string_view batch) { std::fwrite(batch.data(), 1, batch.size(), stdout); });
        return std::fflush(stdout) == 0 ? Ok : fail(Internal, "cannot write to standard output");
    }
    // The whole file or nothing: a failed run never leaves half a download list behind.
    QSaveFile out(p.value(outputOption));
    if (!out.open(QIODevice::WriteOnly))
        return fail(BadInput, QStringLiteral("%1: %2").arg(out.fileName(), out.errorString()));
    bool ok = true;
    writeItems(lines, [&](std::string_view batch) {
        ok = ok && out.write(batch.data(), qint64(batch.size())) == qint64(batch.size());
    });
    if (!ok || !out.commit())
        return fail(BadInput, QStringLiteral("%1: %2").arg(out.fileName(), out.errorString()));
    return Ok;
}

namespace {

struct LinkOptions
{
    QCommandLineOption tcp{"tcp", "Target at HOST:PORT over TCP (flash: may be given several times).", "host:port"};
    QCommandLineOption serial{"serial", "Target on this serial device.", "device"};
    QCommandLineOption baud{"baud", "Serial bit rate (default 115200).", "rate", "115200"};
    QCommandLineOption replyTimeout{
        "reply-timeout", "Milliseconds to wait for each reply (default 2000).", "ms", "2000"};
    QCommandLineOption waitTimeout{"wait-timeout", "Seconds to wait for the bootloader (default 30).", "s", "30"};
    QCommandLineOption probe{
        "probe-interval", "Milliseconds between link tests while waiting (default 200).", "ms", "200"};
    QCommandLineOption timeout{"timeout", "Seconds for the whole run, 0 for no limit (default 3600).", "s", "3600"};
    QCommandLineOption json{"json", "Write events as JSON lines on standard output."};
    QCommandLineOption quiet{{"q", "quiet"}, "Print errors only."};

    void addTo(QCommandLineParser &p) const
    {
        for (const QCommandLineOption *o :
            {&tcp, &serial, &baud, &replyTimeout, &waitTimeout, &probe, &timeout, &json, &quiet})
            p.addOption(*o);
    }
};

bool number(const QCommandLineParser &p, const QCommandLineOption &o, int minimum, int &out)
{
    bool ok = false;
    out = p.value(o).toInt(&ok);
    return ok && out >= minimum;
}

// Runs one job per target to the end and returns the exit status of the first that failed.
int runJobs(QCommandLineParser &p, const LinkOptions &lo, const LineStore &lines, const FlashSession::Options &options,
    bool severalAllowed)
{
    JobTiming timing;
    int waitSeconds = 0;
    int baud = 0;
    int overall = 0;
    if (!number(p, lo.replyTimeout, 1, timing.replyTimeoutMs) || !number(p, lo.probe, 1, timing.probeIntervalMs)
        || !number(p, lo.waitTimeout, 0, waitSeconds) || !number(p, lo.baud, 1, baud)
        || !number(p, lo.timeout, 0, overall))
        return fail(BadInput, "a time, a rate or an interval is not a number in range");
    timing.waitTimeoutMs = std::max(1, waitSeconds) * 1000;

    const QStringList tcp = p.values(lo.tcp);
    const bool serial = p.isSet(lo.serial);
    if (tcp.isEmpty() == !serial)
        return fail(BadInput, "give either --tcp HOST:PORT or --serial DEVICE");
    if (!severalAllowed && tcp.size() > 1)
        return fail(BadInput, "this command takes one target");

    std::vector<std::unique_ptr<FlashJob>> jobs;
    for (const QString &endpoint : tcp) {
        QString host;
        quint16 port = 0;
        if (!splitEndpoint(endpoint, host, port))
            return fail(BadInput, QStringLiteral("%1 is not HOST:PORT").arg(endpoint));
        jobs.push_back(
            std::make_unique<FlashJob>(std::make_unique<TcpTargetLink>(host, port,
                                           options.waitForBootloader ? timing.waitTimeoutMs : timing.replyTimeoutMs),
                lines, options, timing));
    }
    if (serial)
        jobs.push_back(std::make_unique<FlashJob>(
            std::make_unique<SerialTargetLink>(p.value(lo.serial), baud), lines, options, timing));

    Reporter reporter(p.isSet(lo.json), p.isSet(lo.quiet));
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
    QObject::connect(&overallTimer, &QTimer::timeout, &overallTimer, [&jobs, overall] {
        for (auto &job : jobs)
            job->abort(OverallTimeout, QStringLiteral("not finished after %1 s").arg(overall));
    });
    if (overall > 0)
        overallTimer.start(overall * 1000);
    for (auto &job : jobs)
        job->start();
    QCoreApplication::exec();
    reporter.summary();
    for (auto &job : jobs)
        if (job->result() != Ok)
            return job->result();
    return Ok;
}

} // namespace

int runFlash(const QStringList &args)
{
    QCommandLineParser p;
    LinkOptions lo;
    lo.addTo(p);
    const QCommandLineOption noWait("no-wait", "Do not wait for the bootloader with link tests.");
    const QCommandLineOption noErase("no-erase", "Do not erase the flash first.");
    const QCommandLineOption oDownload("o-download", "Announce an \"O\" download instead of a \"W\" one.");
    const QCommandLineOption convert(
        "convert", "FILE holds Intel HEX records: convert them first (o, w or pw).", "format");
    for (const QCommandLineOption *o : {&noWait, &noErase, &oDownload, &convert})
        p.addOption(*o);
    p.addPositionalArgument("file", "The download lines, one per line (or records, with --convert).");
    int exit = Ok;
    if (!parse(p, args,
            "Updates targets: waits for the bootloader, erases the flash, announces the download and sends the file "
            "line "
            "by line, each line at most 11 times.",
            exit))
        return exit;
    if (p.positionalArguments().size() != 1)
        return fail(BadInput, "flash needs exactly one file");
    LineStore lines;
    QString error;
    if (!loadLines(p.positionalArguments()[0], lines, error))
        return fail(BadInput, error);
    if (p.isSet(convert)) {
        Format format;
        if (!formatFrom(p.value(convert), format))
            return fail(BadInput, "--convert takes o, w or pw");
        LineStore converted;
        if (!convertLines(lines, format, converted, error))
            return fail(BadInput, error);
        lines = std::move(converted);
    }
    if (lines.size() > MaxDownloadLines)
        return fail(BadInput,
            QStringLiteral("%1 lines: one download can send at most %2").arg(lines.size()).arg(MaxDownloadLines));
    FlashSession::Options options;
    options.waitForBootloader = !p.isSet(noWait);
    options.erase = p.isSet(noErase) ? FlashSession::Erase::None : FlashSession::Erase::Flash;
    options.kind = p.isSet(oDownload) ? 'O' : 'W';
    return runJobs(p, lo, lines, options, true);
}

int runPing(const QStringList &args)
{
    QCommandLineParser p;
    LinkOptions lo;
    lo.addTo(p);
    int exit = Ok;
    if (!parse(p, args, "Sends link tests until the bootloader answers or --wait-timeout passes.", exit))
        return exit;
    const LineStore none;
    FlashSession::Options options;
    options.erase = FlashSession::Erase::None;
    options.download = false;
    return runJobs(p, lo, none, options, false);
}

int runErase(const QStringList &args)
{
    QCommandLineParser p;
    LinkOptions lo;
    lo.addTo(p);
    const QCommandLineOption data("data", "Erase the data area instead of the program flash.");
    const QCommandLineOption wait("wait", "Wait for the bootloader with link tests first.");
    p.addOption(data);
    p.addOption(wait);
    int exit = Ok;
    if (!parse(p, args, "Erases the target's program flash, or its data area.", exit))
        return exit;
    const LineStore none;
    FlashSession::Options options;
    options.waitForBootloader = p.isSet(wait);
    options.erase = p.isSet(data) ? FlashSession::Erase::Data : FlashSession::Erase::Flash;
    options.download = false;
    return runJobs(p, lo, none, options, false);
}

} // namespace morven::cli

// The simulated target's command line and its endpoints.
#include "sim/simconfig.h"

#include "cmdline/cmdline.h"
#include "link/endpoint.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>

#include <limits>

namespace morven::sim {

namespace {

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")}, QStringLiteral("Show the version.")};
    QCommandLineOption tcp{QStringLiteral("tcp"),
        QStringLiteral("Listen for the PC on TCP [HOST:]PORT (host 127.0.0.1 unless given; port 0 picks a free one)."),
        QStringLiteral("[HOST:]PORT")};
    QCommandLineOption pty{QStringLiteral("pty"), QStringLiteral("Open a pseudo-terminal for the PC's serial port.")};
    QCommandLineOption eraseStatus{QStringLiteral("erase-status"),
        QStringLiteral("Status of the erase replies: 3 success (default), 0 failure, other: blank check error."),
        QStringLiteral("N")};
    QCommandLineOption reject{QStringLiteral("reject"),
        QStringLiteral("Reject line LINE (the first line after the announce is 1) TIMES times before accepting it; "
                       "repeatable."),
        QStringLiteral("LINE:TIMES")};
    QCommandLineOption delay{
        QStringLiteral("delay"), QStringLiteral("Wait MS milliseconds before each reply."), QStringLiteral("MS")};
    QCommandLineOption split{QStringLiteral("split"), QStringLiteral("Send each reply as two writes a few ms apart.")};
    QCommandLineOption dropAfter{QStringLiteral("drop-after"),
        QStringLiteral("When line LINE (from 1) first arrives, give no reply and drop the connection."),
        QStringLiteral("LINE")};
    QCommandLineOption silent{QStringLiteral("silent"), QStringLiteral("Never reply.")};
    QCommandLineOption powerUpAfter{QStringLiteral("power-up-after"),
        QStringLiteral("Ignore everything until N link tests have gone unanswered."), QStringLiteral("N")};
    QCommandLineOption baud{QStringLiteral("baud"),
        QStringLiteral("Pace both directions at N baud, 10 bits per byte (0: no pacing)."), QStringLiteral("N")};
    QCommandLineOption idle{QStringLiteral("idle"),
        QStringLiteral("A frame without ';' ends after MS quiet milliseconds (default 20)."), QStringLiteral("MS")};
    QCommandLineOption save{QStringLiteral("save"),
        QStringLiteral("Write the accepted lines to FILE, CR LF each, when a download completes and at the end."),
        QStringLiteral("FILE")};
    QCommandLineOption verbose{QStringLiteral("verbose"), QStringLiteral("Log frames and replies to stderr.")};

    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("Simulated update target: answers the PC's bootloader frames over TCP or a "
                           "pseudo-terminal until it gets SIGINT or SIGTERM."));
        parser.addOptions({help, version, tcp, pty, eraseStatus, reject, delay, split, dropAfter, silent, powerUpAfter,
            baud, idle, save, verbose});
    }
};

// A whole number from `min` to `max`, nothing else around it.
bool number(const QString &text, long long min, long long max, long long &value)
{
    bool ok = false;
    value = text.trimmed().toLongLong(&ok, 10);
    return ok && value >= min && value <= max;
}

// "[HOST:]PORT" for the listening side: port 0 picks a free one, "localhost" is the loopback.
bool parseListenAddress(const QString &text, QHostAddress &host, quint16 &port)
{
    const std::optional<Endpoint> e = parseEndpoint(text, QStringLiteral("127.0.0.1"), true);
    if (!e)
        return false;
    port = e->port;
    if (e->host == QLatin1String("localhost")) {
        host = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    return host.setAddress(e->host);
}

} // namespace

SimConfig parseSimArguments(const QStringList &args)
{
    Parser p;
    if (!p.parser.parse(args))
        cli::misuse(p.parser.errorText());
    SimConfig c;
    if (p.parser.isSet(p.help) || p.parser.isSet(p.version)) {
        c.help = p.parser.isSet(p.help);
        c.version = !c.help;
        return c;
    }
    if (const auto stray = cli::strayArguments(p.parser))
        cli::misuse(*stray);

    const long long intMax = std::numeric_limits<int>::max();
    long long v = 0;
    if (p.parser.isSet(p.tcp)) {
        c.tcp = true;
        if (!parseListenAddress(p.parser.value(p.tcp), c.host, c.port))
            cli::misuse(QStringLiteral("--tcp wants [HOST:]PORT, got \"%1\"").arg(p.parser.value(p.tcp)));
    }
    c.pty = p.parser.isSet(p.pty);
    if (p.parser.isSet(p.eraseStatus)) {
        if (!number(p.parser.value(p.eraseStatus), 0, 255, v))
            cli::misuse(QStringLiteral("--erase-status wants 0 to 255"));
        c.bootloader.eraseStatus = static_cast<std::uint8_t>(v);
    }
    for (const QString &r : p.parser.values(p.reject)) {
        const QStringList parts = r.split(QLatin1Char(':'));
        long long line = 0;
        long long times = 0;
        if (parts.size() != 2 || !number(parts[0], 1, 65535, line) || !number(parts[1], 0, intMax, times))
            cli::misuse(QStringLiteral("--reject wants LINE:TIMES with LINE from 1, got \"%1\"").arg(r));
        c.bootloader.rejections[static_cast<int>(line - 1)] = static_cast<int>(times);
    }
    if (p.parser.isSet(p.delay)) {
        if (!number(p.parser.value(p.delay), 0, intMax, v))
            cli::misuse(QStringLiteral("--delay wants milliseconds, 0 or more"));
        c.transport.replyDelayMs = static_cast<int>(v);
    }
    c.transport.splitReplies = p.parser.isSet(p.split);
    if (p.parser.isSet(p.dropAfter)) {
        if (!number(p.parser.value(p.dropAfter), 1, 65535, v))
            cli::misuse(QStringLiteral("--drop-after wants a line number, 1 or more"));
        c.bootloader.dropAtLine = static_cast<int>(v - 1);
    }
    c.bootloader.silent = p.parser.isSet(p.silent);
    if (p.parser.isSet(p.powerUpAfter)) {
        if (!number(p.parser.value(p.powerUpAfter), 0, intMax, v))
            cli::misuse(QStringLiteral("--power-up-after wants a count, 0 or more"));
        c.bootloader.powerUpAfter = static_cast<int>(v);
    }
    if (p.parser.isSet(p.baud)) {
        if (!number(p.parser.value(p.baud), 0, 100'000'000, v))
            cli::misuse(QStringLiteral("--baud wants a rate, 0 or more"));
        c.transport.baud = static_cast<int>(v);
    }
    if (p.parser.isSet(p.idle)) {
        if (!number(p.parser.value(p.idle), 1, 3'600'000, v))
            cli::misuse(QStringLiteral("--idle wants milliseconds, 1 or more"));
        c.bootloader.idle = std::chrono::milliseconds(v);
    }
    c.saveFile = p.parser.value(p.save);
    if (p.parser.isSet(p.save) && c.saveFile.isEmpty())
        cli::misuse(QStringLiteral("--save wants a file name"));
    c.verbose = p.parser.isSet(p.verbose);
    if (!c.tcp && !c.pty)
        cli::misuse(QStringLiteral("nothing to serve: give --tcp [HOST:]PORT and/or --pty"));
    return c;
}

QString simUsage(const QString &programName)
{
    return cli::helpText(Parser().parser, programName);
}

QStringList startSim(SimTarget &target, const SimConfig &config)
{
    QStringList endpoints;
    if (config.tcp) {
        if (!target.listen(config.host, config.port))
            cli::fail(1,
                QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(config.host.toString())
                    .arg(config.port)
                    .arg(target.errorString()));
        const QHostAddress a = target.address();
        const QString host
            = a.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(a.toString()) : a.toString();
        endpoints.append(QStringLiteral("listening on %1:%2").arg(host).arg(target.port()));
    }
    if (config.pty) {
        if (!target.openPty())
            cli::fail(1, target.errorString());
        endpoints.append(QStringLiteral("serial device %1").arg(target.ptyPath()));
    }
    return endpoints;
}

std::optional<QString> saveLines(const std::vector<std::string> &lines, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    for (const std::string &line : lines) {
        file.write(line.data(), static_cast<qint64>(line.size()));
        file.write("\r\n", 2);
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace morven::sim

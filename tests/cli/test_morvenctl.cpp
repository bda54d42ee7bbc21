// morvenctl as a script runs it: a separate process against simulated targets in this one,
// over loopback TCP and pseudo-terminals, with its exit codes and its output.
#include "support/windowfixture.h"

#include "support/cliprocess.h"
#include "support/hostilepeer.h"
#include "sim/simconfig.h"
#include "sim/simtarget.h"
#include "station/unitrecords.h"
#include "version.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace morven;

namespace {

// Targets here answer at once: no bootloader within 5 s, not 30, is a failure (a test's own value wins).
test::ProcessResult morvenctl(QStringList args, const QStringList &environment = {})
{
    if (!args.isEmpty() && QStringList{"flash", "ping", "erase"}.contains(args.front()))
        args.insert(1, QStringLiteral("--wait-timeout=5"));
    return test::runProgram(QStringLiteral(MORVENCTL_PATH), args, 60000, {}, environment);
}

// Intel HEX records as tools write them, CR LF each: 16-byte data records (a shorter one ends
// its chunk with an address record), pairs such as "0G" that the record codec reads by their
// code (71, which the checksum counts), and the end record.
QByteArray records(QRandomGenerator &random, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const int length = random.bounded(10) == 0 ? random.bounded(1, 16) : 16;
        QByteArray data(length, 0);
        for (char &c : data)
            c = char(random.bounded(256));
        const bool oddPair = random.bounded(8) == 0;
        if (oddPair)
            data[0] = 0x47;
        QByteArray line = test::hexRecord(data, quint16(i * 16));
        if (oddPair)
            line.replace(9, 2, "0G");
        text += line + "\r\n";
        if (length != 16 || random.bounded(40) == 0)
            text += test::hexRecord(QByteArray::fromHex("0800"), 0, 4) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

// The same text with each line end picked at random from CR LF, LF and CR.
QByteArray mixedLineEnds(const QByteArray &text, QRandomGenerator &random)
{
    QByteArray out;
    for (const QByteArray &line : text.split('\n'))
        if (!line.isEmpty())
            out += line.chopped(1) + QList<QByteArray>{"\r\n", "\n", "\r"}[random.bounded(3)];
    return out;
}

} // namespace

class Morvenctl : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes) { return test::writeFile(dir.filePath(name), bytes); }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString downloadFile(int count, const QByteArray &lineEnd = "\r\n")
    {
        return write(QStringLiteral("dl%1.txt").arg(count), test::downloadLines(count).join(lineEnd).toLatin1() + lineEnd);
    }
    static QString endpoint(const sim::SimTarget &target) { return QStringLiteral("127.0.0.1:%1").arg(target.port()); }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // Whatever the line ends, convert gives the bytes the window's buttons and "2Save as" give
    // for the same records with CR LF ends.
    void convertGivesTheWindowsLines_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("button");
        QTest::newRow("o") << "o" << QByteArray("Command2");
        QTest::newRow("w") << "w" << QByteArray("Command14");
        QTest::newRow("pw") << "pw" << QByteArray("Command16");
    }
    void convertGivesTheWindowsLines()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, button);
        QRandomGenerator random(1234);
        for (int round = 0; round < 3; ++round) {
            const QByteArray text = records(random, 20 + round * 97);
            const QString forWindow = write(QStringLiteral("r%1.hex").arg(round), text);
            const QString forCli = write(QStringLiteral("m%1.hex").arg(round), mixedLineEnds(text, random));
            const QString cliOut = dir.filePath(QStringLiteral("cli-%1-%2.txt").arg(format).arg(round));
            const test::ProcessResult r = morvenctl({"convert", "--format", format, forCli, "-o", cliOut});
            QVERIFY2(r.code == 0, r.err.constData());

            test::FakeLinkWindow window;
            window.dialogs->paths.push_back(forWindow);
            window.click("Command54");
            window.click(button.constData());
            const QString windowOut = dir.filePath(QStringLiteral("win-%1-%2.txt").arg(format).arg(round));
            window.dialogs->paths.push_back(windowOut);
            window.click("Command3");
            QVERIFY(window.dialogs->messages().isEmpty());
            QVERIFY(!read(cliOut).isEmpty());
            QCOMPARE(read(cliOut), read(windowOut));
        }
    }

    // What convert writes, and every reason it refuses a file (then it writes nothing).
    void convertChecksItsInput_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("expected"); // standard output, or what stderr must hold
        const QByteArray r1 = ":10000000000102030405060708090A0B0C0D0E0F78\r\n";
        const QByteArray r2 = ":10001000101112131415161718191A1B1C1D1E1F68\r\n";
        const QByteArray eof = ":00000001FF\r\n";
        QTest::newRow("worked example, standard output")
            << r1 + r2 + eof << QStringList{} << 0
            << QByteArray(":W000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;\r\n");
        QTest::newRow("wrong checksum") << r1 + r2.chopped(4) + "69\r\n" + eof << QStringList{} << 2
                                        << QByteArray("in.hex: line 2: the record checksum is wrong: expected 68, found 69");
        QTest::newRow("no end record: data left out")
            << eof + r1 + r2 << QStringList{} << 2
            << QByteArray("in.hex: line 2: this data record and the 1 after it are not followed by an end-of-file");
        QTest::newRow("some other text") << QByteArray("hello\r\n") << QStringList{} << 2
                                         << QByteArray("in.hex: holds neither Intel HEX records");
        QTest::newRow("address for records") << r1 + eof << QStringList{"--address", "0x100"} << 2
                                             << QByteArray("--address is for binary input");
        QTest::newRow("a directory") << QByteArray() << QStringList{"DIR"} << 2 << QByteArray("is a directory");
    }
    void convertChecksItsInput()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, extra);
        QFETCH(int, code);
        QFETCH(QByteArray, expected);
        QString input = write(QStringLiteral("in.hex"), content);
        if (extra == QStringList{"DIR"}) {
            input = dir.path();
            extra.clear();
        }
        const QString out = dir.filePath(QStringLiteral("never.txt"));
        test::ProcessResult r = morvenctl(QStringList{"convert", "--format", "w", input} + extra);
        QCOMPARE(r.code, code);
        if (code == 0)
            QCOMPARE(r.out, expected);
        else
            QVERIFY2(r.err.contains(expected), r.err.constData());
        if (code != 0) {
            r = morvenctl(QStringList{"convert", "--format", "w", input, "-o", out} + extra);
            QCOMPARE(r.code, code);
            QVERIFY(!QFile::exists(out));
        }
    }

    // S-records and binary data give exactly the lines of the Intel HEX records srec_cat writes
    // for them, whether the content or --input-format says what the file holds.
    void otherFormatsConvertAsSrecCatWritesThem_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("ours"); // morvenctl's input options
        QTest::addColumn<QStringList>("srecCat"); // srec_cat's input options
        QByteArray bytes(700, 0);
        QRandomGenerator random(7);
        for (char &c : bytes)
            c = char(random.bounded(256));
        QTest::newRow("binary at an address") << bytes << QStringList{"--address", "0x0800FE00"}
                                              << QStringList{"-binary", "-offset", "0x0800FE00"};
        QTest::newRow("text taken as binary") << QByteArray("hello\n") << QStringList{"--input-format", "bin"}
                                              << QStringList{"-binary"};
        QTest::newRow("S-records out of order")
            << QByteArray("S00600004844521B\nS1130010101112131415161718191A1B1C1D1E1F64\n"
                          "S1130000000102030405060708090A0B0C0D0E0F74\nS5030002FA\nS9030000FC\n")
            << QStringList{} << QStringList{};
    }
    void otherFormatsConvertAsSrecCatWritesThem()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, ours);
        QFETCH(QStringList, srecCat);
        const QString input = write(QStringLiteral("other.in"), content);
        const test::ProcessResult records = test::runProgram(
            QStringLiteral("srec_cat"), QStringList{input} + srecCat + QStringList{"-o", "-", "-intel", "-obs=16"});
        QCOMPARE(records.code, 0);
        const test::ProcessResult expected
            = morvenctl({"convert", "--format", "pw", write(QStringLiteral("other.hex"), records.out)});
        const test::ProcessResult r = morvenctl(QStringList{"convert", "--format", "pw", input} + ours);
        QVERIFY2(r.code == 0 && expected.code == 0, r.err.constData());
        QCOMPARE(r.out, expected.out);
        sim::SimTarget target;
        QVERIFY(target.listen());
        QCOMPARE(morvenctl(QStringList{"flash", input, "-f", "pw", "--tcp", endpoint(target)} + ours).code, 0);
        QCOMPARE(test::acceptedLines(target.bootloader()).join(QLatin1String("\r\n")) + QLatin1String("\r\n"),
            QString::fromLatin1(expected.out));
    }

    // A file that cannot be right ends flash with exit 2, naming the file, the line and what is
    // wrong, before any link is opened: the target sees no frame at all.
    void flashRefusesBeforeTouchingTheTarget_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QByteArray>("message");
        const QStringList good = test::downloadLines(4);
        auto lines = [](QStringList l) { return l.join(QLatin1String("\r\n")).toLatin1() + "\r\n"; };
        QStringList badCrc = good;
        badCrc[2].replace(badCrc[2].size() - 2, 1, QLatin1String(badCrc[2].endsWith(QLatin1String("0;")) ? "1" : "0"));
        const QByteArray hex = ":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n";
        QTest::newRow("empty") << QByteArray() << QStringList{} << QByteArray("fw: is empty");
        QTest::newRow("Intel HEX without --format")
            << hex << QStringList{} << QByteArray("fw: holds Intel HEX records, not download lines: convert them with --format");
        QTest::newRow("download lines with --format") << lines(good) << QStringList{"--format", "w"}
                                                      << QByteArray("fw: holds download lines already");
        QTest::newRow("a CRC that does not match") << lines(badCrc) << QStringList{}
                                                   << QByteArray("fw: line 3: the line's CRC is wrong: expected");
        QTest::newRow("conversion yields nothing") << QByteArray(":00000001FF\r\n") << QStringList{"--format", "o"}
                                                   << QByteArray("fw: yields no download line");
    }
    void flashRefusesBeforeTouchingTheTarget()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, extra);
        QFETCH(QByteArray, message);
        sim::SimTarget target;
        QVERIFY(target.listen());
        QVERIFY(target.openPty());
        int connections = 0;
        connect(&target, &sim::SimTarget::clientConnected, this, [&] { ++connections; });
        const QString file = write(QStringLiteral("fw"), content);
        for (const QStringList &link : {QStringList{"--tcp", endpoint(target)}, QStringList{"--serial", target.ptyPath()}}) {
            const test::ProcessResult r = morvenctl(QStringList{"flash", file, "--wait-timeout", "1"} + link + extra);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(message), r.err.constData());
        }
        QTest::qWait(50); // a connection or bytes would have arrived by now
        QCOMPARE(connections, 0);
        QVERIFY(target.bootloader().frames().empty());
    }

    // --force sends what is not a download line as it stands (raw records, here), so a target
    // that takes them can be served; the window sends any file the same way.
    void flashForceSendsLinesAsTheyStand()
    {
        sim::SimTarget target;
        QVERIFY(target.listen());
        const QStringList raw{":10000000000102030405060708090A0B0C0D0E0F78", ":00000001FF"};
        const test::ProcessResult r = morvenctl({"flash", write(QStringLiteral("raw.hex"), raw.join('\n').toLatin1()),
            "--force", "--no-wait", "--no-erase", "--tcp", endpoint(target)});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(test::acceptedLines(target.bootloader()), raw);
    }

    void flashOverTcpWithPlainProgress()
    {
        sim::Options options;
        options.powerUpAfter = 2;
        options.rejections[3] = 2;
        sim::SimTarget target(options);
        QVERIFY(target.listen());
        const test::ProcessResult r = morvenctl({"flash", downloadFile(50, "\n"), "--tcp", endpoint(target)});
        QCOMPARE(r.code, 0);
        QCOMPARE(test::acceptedLines(target.bootloader()), test::downloadLines(50));
        QCOMPARE(target.bootloader().timesReceived(3), 3);
        QCOMPARE(target.bootloader().eraseSelectors(), std::vector<int>{2});
        // Plain, stable lines for wrappers.
        const QRegularExpression progress(
            QStringLiteral("^progress 127\\.0\\.0\\.1:\\d+ (\\d+)/50 lines (\\d+)% [\\d.]+ kB/s eta \\d+:\\d\\d$"),
            QRegularExpression::MultilineOption);
        QVERIFY2(progress.match(QString::fromLatin1(r.err)).hasMatch(), r.err.constData());
        QVERIFY(r.err.contains("progress " + endpoint(target).toLatin1() + " 50/50 lines 100%"));
        QVERIFY(r.err.contains("ok " + endpoint(target).toLatin1() + ": 50 lines in "));
    }

    void flashJsonEvents()
    {
        sim::SimTarget target;
        QVERIFY(target.listen());
        const test::ProcessResult r
            = morvenctl({"flash", downloadFile(5), "--tcp", endpoint(target), "--json", "--quiet"});
        QCOMPARE(r.code, 0);
        QStringList events;
        for (const QByteArray &line : r.out.split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QVERIFY2(!o.isEmpty(), line.constData());
            events << o.value(QLatin1String("event")).toString();
            if (o.value(QLatin1String("event")) == QLatin1String("done"))
                QCOMPARE(o.value(QLatin1String("left")).toString(), QStringLiteral("flash erased, 5 of 5 lines written"));
        }
        QCOMPARE(events.first(), QStringLiteral("stage"));
        QVERIFY(events.contains(QStringLiteral("progress")));
        QCOMPARE(events.mid(events.size() - 2), (QStringList{"done", "summary"}));
        QVERIFY(r.err.isEmpty());
    }

    // Converted on the fly, :O lines announce an "O" download by themselves.
    void flashConvertsRecordsOnTheFly()
    {
        QRandomGenerator random(99);
        const QString input = write(QStringLiteral("fly.hex"), records(random, 64));
        const test::ProcessResult converted = morvenctl({"convert", "--format", "o", input});
        QCOMPARE(converted.code, 0);
        sim::SimTarget target;
        QVERIFY(target.listen());
        QCOMPARE(morvenctl({"flash", input, "--convert", "o", "--tcp", endpoint(target)}).code, 0);
        QCOMPARE(test::acceptedLines(target.bootloader()).join(QLatin1String("\r\n")) + QLatin1String("\r\n"),
            QString::fromLatin1(converted.out));
        QCOMPARE(target.bootloader().downloadKind(), 'O');
    }

    // Several serial adapters and TCP targets at once; each target's time is its own, and the
    // status is that of the target that failed.
    void severalAdaptersAndTargetsAtOnce()
    {
        std::vector<std::unique_ptr<sim::SimTarget>> targets;
        QStringList args{"flash", downloadFile(40), "--no-wait"};
        for (int i = 0; i < 4; ++i) {
            sim::Options options;
            options.eraseStatus = i == 3 ? 0 : 3;
            sim::TransportOptions transport;
            transport.replyDelayMs = i == 0 ? 15 : 0;
            targets.push_back(std::make_unique<sim::SimTarget>(options, transport));
            QVERIFY(i < 2 ? targets.back()->openPty() : targets.back()->listen());
            args << (i < 2 ? QStringList{"--serial", targets.back()->ptyPath()} : QStringList{"--tcp", endpoint(*targets.back())});
        }
        const test::ProcessResult r = morvenctl(args);
        QCOMPARE(r.code, 5);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(test::acceptedLines(targets[i]->bootloader()), test::downloadLines(40));
        QVERIFY2(r.err.contains("summary: 3 of 4 targets updated"), r.err.constData());
        QVERIFY(r.err.contains("left erasing the flash failed"));
        const QRegularExpression time(QStringLiteral("^ok (\\S+): 40 lines in ([\\d.]+) s$"), QRegularExpression::MultilineOption);
        QMap<QString, double> seconds;
        for (auto it = time.globalMatch(QString::fromLatin1(r.err)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            seconds[m.captured(1)] = m.captured(2).toDouble();
        }
        QCOMPARE(seconds.size(), 3);
        QVERIFY2(seconds[targets[0]->ptyPath()] > seconds[endpoint(*targets[2])], r.err.constData());
    }

    // The simulated target as its command line sets it up (for status 3 it stops listening), and
    // the status morvenctl ends with.
    void exitCodes_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("code");
        const QStringList quick{"--wait-timeout", "1", "--reply-timeout", "500"};
        QTest::newRow("nothing listening") << "" << quick << 3;
        QTest::newRow("no bootloader answer") << "--silent" << quick << 4;
        QTest::newRow("erase failed") << "--erase-status 0" << quick << 5;
        QTest::newRow("not blank after erase") << "--erase-status 1" << quick << 5;
        QTest::newRow("line rejected 11 times") << "--reject 2:11" << quick << 6;
        QTest::newRow("target stops answering") << "--silent" << quick + QStringList{"--no-wait"} << 7;
        QTest::newRow("connection dropped mid-download") << "--drop-after 3" << quick << 7;
        QTest::newRow("whole run too long") << "--silent" << QStringList{"--wait-timeout", "30", "--timeout", "1"} << 8;
    }
    void exitCodes()
    {
        QFETCH(QString, sim);
        QFETCH(QStringList, extra);
        QFETCH(int, code);
        const sim::SimConfig config
            = sim::parseSimArguments(QStringList{"morven-sim", "--pty"} + sim.split(' ', Qt::SkipEmptyParts));
        sim::SimTarget target(config.bootloader);
        QVERIFY(target.listen());
        const QString at = endpoint(target);
        if (code == 3)
            target.stopListening();
        const test::ProcessResult r = morvenctl(QStringList{"flash", downloadFile(4), "--tcp", at} + extra);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains("error " + at.toLatin1()), r.err.constData());
        if (sim.startsWith("--drop-after")) // the link's own reason, not a time-out
            QVERIFY2(r.err.contains("the connection was closed"), r.err.constData());
        if (code == 6) {
            // The target and morvenctl count lines alike.
            QVERIFY2(r.err.contains("line 2 was rejected 11 times; left flash erased, 1 of 4 lines written"),
                r.err.constData());
            QCOMPARE(target.bootloader().notes().back(), std::string("rejected line 2 (11 of 11)"));
        }
    }

    // A broken or hostile target: morvenctl resynchronises on the next ':', never grows without
    // bound, and ends with the code of what went wrong.
    void hostileTargets_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<int>("code");
        QTest::newRow("garbage around every reply") << 0 << 0;
        QTest::newRow("overlong frames and huge batches") << 1 << 0;
        QTest::newRow("a flood of link-test replies") << 2 << 0;
        QTest::newRow("a reply without its end") << 3 << 7;
    }
    void hostileTargets()
    {
        QFETCH(int, scenario);
        QFETCH(int, code);
        test::HostilePeer peer;
        QVERIFY(peer.listen());
        QRandomGenerator random(5);
        const QByteArray flood = QByteArray(":U00000100ABCD;").repeated(500);
        peer.setBend([&](const QByteArray &reply, int n) -> QByteArray {
            switch (scenario) {
            case 0: {
                QByteArray junk(random.bounded(0, 64), '\0');
                for (char &c : junk)
                    if ((c = char(random.bounded(256))) == ':' || c == ';')
                        c = '#'; // a stray ':' before the reply would start a frame of its own
                return junk + reply + junk;
            }
            case 1:
                return n % 3 == 0 ? ":W" + QByteArray(2000, '1') + reply : n % 3 == 1 ? QByteArray(40000, 'x') + reply : reply;
            case 2:
                return flood + reply + flood;
            default:
                return n == 4 ? reply.chopped(1) : reply;
            }
        });
        const test::ProcessResult r = morvenctl({"flash", downloadFile(20), "--no-wait", "--reply-timeout", "1000",
            "--tcp", QStringLiteral("127.0.0.1:%1").arg(peer.port())});
        QVERIFY2(r.code == code, r.err.constData());
        if (code == 0)
            QCOMPARE(test::acceptedLines(peer.bootloader()), test::downloadLines(20));
    }

    // Ctrl-C or SIGTERM: the links close, every target says where it was left, and the status
    // is what shells expect.
    void interruptedRunsSayWhereTheyLeftTheTargets_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("bootloaderAnswers");
        QTest::addColumn<QString>("left");
        QTest::newRow("SIGINT mid-download") << int(SIGINT) << true << "left flash erased, (\\d+) of 300 lines written";
        QTest::newRow("SIGTERM while waiting") << int(SIGTERM) << false << "left not touched";
    }
    void interruptedRunsSayWhereTheyLeftTheTargets()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, bootloaderAnswers);
        QFETCH(QString, left);
        sim::Options options;
        options.silent = !bootloaderAnswers;
        sim::TransportOptions transport;
        transport.replyDelayMs = 5;
        sim::SimTarget target(options, transport);
        QVERIFY(target.listen());
        bool closed = false;
        connect(&target, &sim::SimTarget::clientDisconnected, this, [&] { closed = true; });
        QProcess process;
        process.start(QStringLiteral(MORVENCTL_PATH),
            {"flash", downloadFile(300), "--tcp", endpoint(target), "--wait-timeout=5"});
        QVERIFY(process.waitForStarted(10000));
        const auto going = [&] {
            return target.bootloader().acceptedLines().size() >= 5
                || (!bootloaderAnswers && target.bootloader().frames().size() >= 2);
        };
        // Not a moment longer than morvenctl runs.
        (void)QTest::qWaitFor([&] { return going() || process.state() == QProcess::NotRunning; }, 20000);
        QVERIFY2(going(), qPrintable("morvenctl never got going: " + process.readAllStandardError()));
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY2(process.waitForFinished(10000), "morvenctl did not end after the signal");
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signalNumber);
        const QString err = QString::fromLatin1(process.readAllStandardError());
        const QRegularExpressionMatch m = QRegularExpression(QLatin1String("interrupted; ") + left).match(err);
        QVERIFY2(m.hasMatch(), qPrintable(err));
        if (bootloaderAnswers) // the reply to the last line accepted may still have been on its way
            QVERIFY(target.bootloader().acceptedLines().size() - m.captured(1).toULongLong() <= 1);
        QVERIFY2(QTest::qWaitFor([&] { return closed; }, 5000), "the connection stayed open");
    }

    // A busy port names who holds it; a port the user may not open names the group that grants
    // access and where the README explains it.
    void serialOpenFailuresSayWhatToDo()
    {
        sim::SimTarget target;
        QVERIFY(target.openPty());
        {
            QSerialPort holder(target.ptyPath());
            QVERIFY(holder.open(QIODevice::ReadWrite));
            const test::ProcessResult r = morvenctl({"ping", "--serial", target.ptyPath()});
            QCOMPARE(r.code, 3);
            QVERIFY2(r.err.contains("the port is busy: process " + QByteArray::number(::getpid())), r.err.constData());
        }
        if (::getuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("needs root and setpriv to run morvenctl as a user without access");
        const QByteArray device = QFile::encodeName(target.ptyPath());
        QVERIFY(::chown(device.constData(), 0, 20) == 0 && ::chmod(device.constData(), 0660) == 0); // root:dialout
        const test::ProcessResult r = test::runProgram(QStringLiteral("setpriv"),
            {"--reuid=65534", "--regid=65534", "--clear-groups", QStringLiteral(MORVENCTL_PATH), "ping", "--serial",
                target.ptyPath()});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains("permission denied: the group 'dialout' grants access"), r.err.constData());
        QVERIFY(r.err.contains("\"Serial port access\" in the README"));
        QVERIFY(target.bootloader().frames().empty());
    }

    // MORVENCTL_TCP, MORVENCTL_SERIAL and MORVENCTL_BAUD stand in for options not given.
    void settingsFromTheEnvironment()
    {
        sim::SimTarget target;
        QVERIFY(target.listen());
        QVERIFY(target.openPty());
        const QString file = downloadFile(3);
        QCOMPARE(morvenctl({"flash", file, "--no-wait"}, {"MORVENCTL_TCP=" + endpoint(target)}).code, 0);
        QCOMPARE(target.bootloader().announces().size(), std::size_t(1));
        // An option wins: the environment's dead endpoint is never tried.
        QCOMPARE(morvenctl({"flash", file, "--no-wait", "--serial", target.ptyPath()}, {"MORVENCTL_TCP=127.0.0.1:9"}).code,
            0);
        QCOMPARE(target.bootloader().announces().size(), std::size_t(2));
        const test::ProcessResult r
            = morvenctl({"ping"}, {"MORVENCTL_SERIAL=" + target.ptyPath(), "MORVENCTL_BAUD=fast"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("MORVENCTL_BAUD: 'fast' is not a bit rate"), r.err.constData());
    }

    // --trace on stderr and --log in a file: every frame each way, with the time and the target.
    void traceAndLog()
    {
        sim::SimTarget target;
        QVERIFY(target.listen());
        const QString log = dir.filePath(QStringLiteral("frames.log"));
        const test::ProcessResult r
            = morvenctl({"flash", downloadFile(2), "--tcp", endpoint(target), "--trace", "--log", log, "--quiet"});
        QCOMPARE(r.code, 0);
        const auto frames = [](const QByteArray &text, QLatin1Char direction) {
            const QRegularExpression frame(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 127\\.0\\.0\\.1:\\d+ %1 (:.*;)$").arg(direction),
                QRegularExpression::MultilineOption);
            QStringList out;
            for (auto it = frame.globalMatch(QString::fromLatin1(text)); it.hasNext();)
                out << it.next().captured(1);
            return out;
        };
        QStringList sent;
        for (const std::string &f : target.bootloader().frames())
            sent << QString::fromStdString(f);
        QCOMPARE(frames(r.err, QLatin1Char('>')), sent);
        QCOMPARE(frames(r.err, QLatin1Char('<')).size(), sent.size());
        QCOMPARE(frames(read(log), QLatin1Char('>')), sent);
        QCOMPARE(frames(read(log), QLatin1Char('<')), frames(r.err, QLatin1Char('<')));
    }

    void pingAndEraseSayWhatTheyDid()
    {
        sim::Options options;
        options.powerUpAfter = 2;
        sim::SimTarget target(options);
        QVERIFY(target.listen());
        test::ProcessResult r = morvenctl({"ping", "--tcp", endpoint(target)});
        QCOMPARE(r.code, 0);
        QCOMPARE(target.bootloader().linkTests(), 3);
        QVERIFY2(r.err.contains(": the bootloader answered after 3 link tests in "), r.err.constData());
        QVERIFY(!r.err.contains("progress"));
        // A year is the longest wait taken.
        QCOMPARE(morvenctl({"ping", "--tcp", endpoint(target), "--wait-timeout", "31536000"}).code, 0);
        r = morvenctl({"erase", "--data", "--tcp", endpoint(target)});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains(": data area erased in "), r.err.constData());
        QVERIFY(!r.err.contains("progress"));
        QCOMPARE(morvenctl({"erase", "--tcp", endpoint(target), "--quiet"}).code, 0);
        QCOMPARE(target.bootloader().eraseSelectors(), (std::vector<int>{1, 2}));
    }

    void portsAsJson()
    {
        const test::ProcessResult r = morvenctl({"ports", "--json"});
        QCOMPARE(r.code, 0);
        const QJsonDocument doc = QJsonDocument::fromJson(r.out);
        QVERIFY2(doc.isArray(), r.out.constData());
        for (const QJsonValue &port : doc.array())
            for (const char *key : {"device", "description", "manufacturer", "usb_id", "serial_number", "port_no"})
                QVERIFY2(port.toObject().contains(QLatin1String(key)), key);
    }

    // The records as the station left them: CSV to the byte, JSON lines, a table, from a time on.
    void recordsAsCsvJsonAndTable_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray header = "unit_id,slot,port,station,operator,recipe,firmware,sha256,tool_version,started_at,"
                                  "ended_at,result,phase,reason,lines_sent,lines_total,retries,seconds,serial,series\r\n";
        const QByteArray a
            = "a,A1,tcp:127.0.0.1:7001,bench,Zo\xc3\xab,\"rev C, 2\",fw.hex,5e,1.16,2024-05-01T07:59:59.999Z,"
              "2024-05-01T08:00:03.500Z,failed,download,\"line 42: \"\"NAK\"\"\",41,512,11,3.5,,\r\n";
        const QByteArray b = "b,A2,tcp:127.0.0.1:7002,bench,,\"rev C, 2\",fw.hex,5e,1.16,2024-05-01T08:00:00.000Z,,"
                             "running,,,0,0,0,0,,\r\n";
        QTest::newRow("csv") << QStringList{"--csv"} << header + a + b;
        QTest::newRow("csv, from a date") << QStringList{"--csv", "--since", "2024-05-01"} << header + a + b;
        QTest::newRow("json, from a time with an offset")
            << QStringList{"--json", "--since", "2024-05-01T10:00+02:00"}
            << QByteArray(
                   "{\"ended_at\":null,\"firmware\":\"fw.hex\",\"lines_sent\":0,\"lines_total\":0,\"operator\":\"\","
                   "\"phase\":\"\",\"port\":\"tcp:127.0.0.1:7002\",\"reason\":\"\",\"recipe\":\"rev C, 2\","
                   "\"result\":\"running\",\"retries\":0,\"seconds\":0,\"serial\":null,\"series\":null,\"sha256\":\"5e\","
                   "\"slot\":\"A2\",\"started_at\":\"2024-05-01T08:00:00.000Z\",\"station\":\"bench\","
                   "\"tool_version\":\"1.16\",\"unit_id\":\"b\"}\n");
        QTest::newRow("table") << QStringList{"--since", "2024-05-01T07:59:59.999"}
                               << QByteArray("STARTED (UTC)        UNIT  STATION  SLOT  RECIPE    RESULT   LINES   "
                                             "RETRIES  SECONDS  ENDED IN\n"
                                             "2024-05-01 07:59:59  a     bench    A1    rev C, 2  failed   41/512  11"
                                             "       3.5      download: line 42: \"NAK\"\n"
                                             "2024-05-01 08:00:00  b     bench    A2    rev C, 2  running  0/0     0 "
                                             "       0.0      -\n");
        QTest::newRow("table, nothing since")
            << QStringList{"--since", "2024-05-02"}
            << QByteArray("STARTED (UTC)  UNIT  STATION  SLOT  RECIPE  RESULT  LINES  "
                          "RETRIES  SECONDS  ENDED IN\n");
    }
    void recordsAsCsvJsonAndTable()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, expected);
        const QString path = dir.filePath(QStringLiteral("units.sqlite"));
        if (!QFile::exists(path)) {
            station::UnitRecords records;
            QCOMPARE(records.open(path).value_or("ok"), "ok");
            station::UnitRecord r;
            for (const char *id : {"a", "b"}) {
                const bool first = id == QLatin1String("a");
                r.unitId = id;
                r.slot = first ? "A1" : "A2";
                r.port = first ? "tcp:127.0.0.1:7001" : "tcp:127.0.0.1:7002";
                r.operatorName = first ? "Zo\u00eb" : "";
                r.station = "bench";
                r.recipe = "rev C, 2";
                r.firmware = "fw.hex";
                r.sha256 = "5e";
                r.toolVersion = "1.16";
                r.startedAt = QDateTime::fromString(
                    first ? "2024-05-01T07:59:59.999Z" : "2024-05-01T08:00:00Z", Qt::ISODateWithMs);
                QCOMPARE(records.startUnit(r).value_or("ok"), "ok");
            }
            r.unitId = "a";
            r.endedAt = QDateTime::fromString("2024-05-01T08:00:03.5Z", Qt::ISODateWithMs);
            r.result = station::UnitResult::Failed;
            r.phase = "download";
            r.reason = "line 42: \"NAK\"";
            r.linesSent = 41;
            r.linesTotal = 512;
            r.retries = 11;
            r.seconds = 3.5;
            QCOMPARE(records.endUnit(r).value_or("ok"), "ok");
        }
        const test::ProcessResult r = morvenctl(QStringList{"records", "--records", path} + args);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, expected);
    }

    // A station killed mid-flash leaves its unit running; the next start records it as
    // interrupted, then flashes the board, which is still there, as a new unit.
    void killedStationLeavesAnInterruptedUnit()
    {
        const sim::SimConfig c = sim::parseSimArguments({"morven-sim", "--tcp", "0", "--delay", "100"});
        sim::SimTarget target(c.bootloader, c.transport);
        QVERIFY(target.listen());
        QByteArray firmware;
        for (int i = 0; i < 80; ++i)
            firmware += test::hexRecord(QByteArray(16, char(i)), quint16(16 * i)) + "\r\n";
        firmware += ":00000001FF\r\n";
        write(QStringLiteral("station-fw.hex"), firmware);
        const QJsonObject recipe{{"name", "Board"}, {"firmware", "station-fw.hex"},
            {"sha256", QString::fromLatin1(QCryptographicHash::hash(firmware, QCryptographicHash::Sha256).toHex())},
            {"format", "w"}, {"probe_interval_ms", 50},
            {"slots", QJsonArray{QJsonObject{{"label", "A1"}, {"port", "tcp:" + endpoint(target)}}}}};
        const QStringList args{"station", write(QStringLiteral("station.json"), QJsonDocument(recipe).toJson()),
            "--records", dir.filePath(QStringLiteral("killed.sqlite")), "--json"};
        QProcess station;
        station.start(QStringLiteral(MORVENCTL_PATH), args);
        QByteArray said;
        const auto started = [&] {
            return (said += station.readAllStandardOutput() + station.readAllStandardError()).contains("\"started\"");
        };
        QVERIFY2(QTest::qWaitFor(started, 10000), said.constData());
        // Mid-download; a unit that failed instead ends the wait at once.
        const auto midDownload = [&] { return target.bootloader().frames().size() > 3; };
        const auto unitFailed = [&] { return started() && said.contains("\"event\":\"failed\""); };
        (void)QTest::qWaitFor([&] { return midDownload() || unitFailed(); }, 10000);
        QVERIFY2(midDownload(), said.constData());
        station.kill();
        QVERIFY(station.waitForFinished(10000));
        const auto results = [&] {
            station::UnitRecords records;
            std::vector<station::UnitRecord> rows;
            QStringList out;
            if (records.open(dir.filePath(QStringLiteral("killed.sqlite"))) || records.list({}, rows))
                return QStringList{"cannot read the records"};
            for (const station::UnitRecord &r : rows)
                out << station::resultName(r.result);
            return out;
        };
        QCOMPARE(results(), QStringList{"running"});
        const test::ProcessResult again = morvenctl(args + QStringList{"--units", "1"});
        QVERIFY2(again.code == 0, again.err.constData());
        QCOMPARE(results(), (QStringList{"interrupted", "passed"}));
    }

    void versionAndHelpEverywhere()
    {
        const QByteArray version = "morvenctl " MORVEN_VERSION "\n";
        QCOMPARE(morvenctl({"--version"}).out, version);
        for (const char *command : {"convert", "flash", "ping", "erase", "ports", "sim", "records"}) {
            QCOMPARE(morvenctl({command, "--version"}).out, version);
            const test::ProcessResult help = morvenctl({"help", command});
            QCOMPARE(help.code, 0);
            QVERIFY2(help.out.contains("--"), command);
            QCOMPARE(help.out, morvenctl({command, "--help"}).out);
        }
        QCOMPARE(test::runProgram(QStringLiteral(MORVEN_SIM_PATH), {"--version"}).out,
            QByteArray("morven-sim " MORVEN_VERSION "\n"));
    }

    // A bad option, option value, missing value or stray argument reads the same in the window,
    // morvenctl and morven-sim: what is wrong, then the hint to --help, on stderr; status 2.
    void badCommandLines_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("speaker"); // PROGRAM in both lines
        QTest::addColumn<QString>("what");
        const QString window = QStringLiteral(MORVEN_WINDOW_PATH), sim = QStringLiteral(MORVEN_SIM_PATH),
                      ctl = QStringLiteral(MORVENCTL_PATH);
        const QString tool = "morven-update-tool", ping = "morvenctl ping", flash = "morvenctl flash";
        const auto add = [](const char *name, const QString &program, const QStringList &args, const QString &speaker,
                             const QString &what) { QTest::newRow(name) << program << args << speaker << what; };
        add("window: unknown option", window, {"--bogus"}, tool, "Unknown option 'bogus'.");
        add("window: stray argument", window, {"firmware.hex"}, tool, "unexpected argument 'firmware.hex'");
        add("sim: unknown option", sim, {"--pty", "--bogus"}, "morven-sim", "Unknown option 'bogus'.");
        add("sim: nothing to serve", sim, {}, "morven-sim", "nothing to serve: give --tcp [HOST:]PORT and/or --pty");
        add("ctl: unknown option", ctl, {"ping", "--fast"}, ping, "Unknown option 'fast'.");
        add("ctl: missing value", ctl, {"ping", "--tcp"}, ping, "Missing value after '--tcp'.");
        add("ctl: stray arguments", ctl, {"ping", "x", "y"}, ping, "unexpected arguments 'x' 'y'");
        add("ctl: no file", ctl, {"flash"}, flash, "give the file");
        add("ctl: no format", ctl, {"convert", "x.hex"}, "morvenctl convert",
            "give --format o, w or pw: the kind of download lines to make");
        add("ctl: bad value, found late", ctl, {"ping", "--tcp", "127.0.0.1:9", "--wait-timeout", "abc"}, ping,
            "--wait-timeout: 'abc' is not a number of seconds");
        add("ctl: no target", ctl, {"ping"}, ping,
            "give a target: --tcp HOST:PORT or --serial DEVICE (or set MORVENCTL_TCP or MORVENCTL_SERIAL)");
        add("ctl records: two formats", ctl, {"records", "--json", "--yield"}, "morvenctl records",
            "--json, --csv and --yield: give one of them");
        add("ctl records: bad time", ctl, {"records", "--since", "May 1"}, "morvenctl records",
            "--since: 'May 1' is not an ISO 8601 date or date and time");
        add("ctl: unknown command", ctl, {"fly"}, "morvenctl", "no command 'fly'");
        add("ctl: help for an unknown command", ctl, {"help", "fly"}, "morvenctl", "no command 'fly'");
        add("ctl: unknown option before the command", ctl, {"--fast"}, "morvenctl", "unknown option '--fast'");
    }
    void badCommandLines()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, speaker);
        QFETCH(QString, what);
        // A runtime directory of its own keeps the toolkit's warning about a missing one off stderr.
        const test::ProcessResult r = test::runProgram(
            program, args, 60000, {}, {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir.path()});
        QCOMPARE(QString::fromLocal8Bit(r.err), QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(speaker, what));
        QCOMPARE(r.code, 2);
        QVERIFY(r.out.isEmpty());
    }

    // Every other refusal of the command line or its files names what is at fault, with exit 2.
    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no command") << QStringList{} << QByteArray("usage:");
        QTest::newRow("bad format") << QStringList{"convert", "--format", "q", "x.hex"} << QByteArray("--format: 'q'");
        QTest::newRow("flash without link") << QStringList{"flash", "x.txt"} << QByteArray("no such file");
        QTest::newRow("missing file") << QStringList{"flash", "/nonexistent/x.txt", "--tcp", "127.0.0.1:9"}
                                      << QByteArray("/nonexistent/x.txt: no such file");
        QTest::newRow("bad endpoint") << QStringList{"ping", "--tcp", "127.0.0.1"} << QByteArray("--tcp: '127.0.0.1'");
        QTest::newRow("reply timeout") << QStringList{"ping", "--tcp", "127.0.0.1:9", "--reply-timeout", "soon"}
                                       << QByteArray("--reply-timeout: 'soon' is not a number of milliseconds");
        QTest::newRow("bit rate 0") << QStringList{"ping", "--serial", "/dev/null", "--baud", "0"}
                                    << QByteArray("--baud: '0' is not a bit rate");
        QTest::newRow("wait over a year") << QStringList{"ping", "--tcp", "127.0.0.1:9", "--wait-timeout", "31536001"}
                                          << QByteArray("--wait-timeout: '31536001' is not a number of seconds");
        QTest::newRow("bad address") << QStringList{"convert", "--format", "w", "--address", "0xZZ", "x.bin"}
                                     << QByteArray("--address: '0xZZ' is not an address");
        QTest::newRow("records: not a database") << QStringList{"records", "--records", MORVENCTL_PATH}
                                                 << QByteArray("is not a records database: it is no SQLite file");
        QTest::newRow("records: none there") << QStringList{"records", "--records", "/nonexistent/units.sqlite"}
                                             << QByteArray("no records at /nonexistent/units.sqlite: no such file");
        QTest::newRow("input format without format") << QStringList{"flash", "--input-format", "bin", "x.bin"}
                                                     << QByteArray("--input-format:");
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, message);
        const test::ProcessResult r = morvenctl(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message), r.err.constData());
    }
};

QTEST_MAIN(Morvenctl)
#include "test_morvenctl.moc"

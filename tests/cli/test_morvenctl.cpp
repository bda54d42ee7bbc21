// morvenctl as a script runs it: a separate process against the simulated target in this
// one, over loopback TCP and a pseudo-terminal, with its exit codes and its output.
#include "../app/windowfixture.h"

#include "simtarget.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace morven;

namespace {

struct Result
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs morvenctl while this process's event loop keeps the simulated targets going.
Result morvenctl(const QStringList &args, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral(MORVENCTL_PATH), args);
    Result r;
    if (!process.waitForStarted(10000))
        return r;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

// An Intel HEX file of `records` data records (lengths mostly 16, the last of a group may be
// shorter), with address records now and then and, unless `open`, the end record.
QByteArray records(QRandomGenerator &random, int count, bool open)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        if (random.bounded(40) == 0)
            text += ":02000004" + QByteArray::number(random.bounded(256), 16).rightJustified(4, '0').toUpper()
                + "F0\r\n";
        const int length = random.bounded(10) == 0 ? random.bounded(1, 16) : 16;
        QByteArray line = ":" + QByteArray::number(length, 16).rightJustified(2, '0').toUpper()
            + QByteArray::number(i * 16 % 65536, 16).rightJustified(4, '0').toUpper() + "00";
        for (int j = 0; j < length; ++j)
            line += QByteArray::number(random.bounded(256), 16).rightJustified(2, '0').toUpper();
        text += line + "00\r\n";
        if (length != 16) // a short record ends its chunk
            text += ":02000004000" + QByteArray::number(random.bounded(10)) + "F0\r\n";
    }
    if (!open)
        text += ":00000001FF\r\n";
    return text;
}

QStringList linesOf(const QByteArray &text)
{
    QStringList out;
    for (const QByteArray &l : text.split('\n'))
        if (!l.trimmed().isEmpty())
            out << QString::fromLatin1(l.trimmed());
    return out;
}

QStringList accepted(const sim::SimTarget &target)
{
    QStringList out;
    for (const std::string &l : target.bootloader().acceptedLines())
        out << QString::fromStdString(l);
    return out;
}

} // namespace

class Morvenctl : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A download file of `count` lines.
    QString downloadFile(int count, QStringList *lines = nullptr)
    {
        QByteArray text;
        QStringList made;
        for (int i = 1; i <= count; ++i) {
            const QByteArray line = ":W" + QByteArray::number(i, 16).rightJustified(4, '0').toUpper() + "04DEADBEEF00;";
            made << QString::fromLatin1(line);
            text += line + "\r\n";
        }
        if (lines)
            *lines = made;
        return write(QStringLiteral("dl%1.txt").arg(count), text);
    }
    static QString endpoint(const sim::SimTarget &target) { return QStringLiteral("127.0.0.1:%1").arg(target.port()); }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void convertGivesTheWindowsLinesByteForByte_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("button");
        QTest::newRow("o") << "o" << QByteArray("Command2");
        QTest::newRow("w") << "w" << QByteArray("Command14");
        QTest::newRow("pw") << "pw" << QByteArray("Command16");
    }
    void convertGivesTheWindowsLinesByteForByte()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, button);
        QRandomGenerator random(1234);
        for (int round = 0; round < 6; ++round) {
            const QString input
                = write(QStringLiteral("r%1.hex").arg(round), records(random, 20 + round * 37, round % 3 == 2));
            const QString cliOut = dir.filePath(QStringLiteral("cli-%1-%2.txt").arg(format).arg(round));
            const Result r = morvenctl({"convert", "--format", format, input, "-o", cliOut});
            QCOMPARE(r.code, 0);

            test::FakeLinkWindow window;
            window.dialogs->paths.push_back(input);
            window.click("Command54");
            window.click(button.constData());
            const QString windowOut = dir.filePath(QStringLiteral("win-%1-%2.txt").arg(format).arg(round));
            window.dialogs->paths.push_back(windowOut);
            window.click("Command3");
            QVERIFY(window.dialogs->messages().isEmpty());
            QCOMPARE(read(cliOut), read(windowOut));
            QVERIFY(!read(cliOut).isEmpty() || round % 3 == 2);
        }
    }

    void convertToStandardOutputAndRefusals()
    {
        const QString input = write(QStringLiteral("ex.hex"),
            ":10000000000102030405060708090A0B0C0D0E0F78\r\n:10001000101112131415161718191A1B1C1D1E1F68\r\n:"
            "00000001FF\r\n");
        Result r = morvenctl({"convert", "--format", "w", input});
        QCOMPARE(r.code, 0);
        QCOMPARE(
            r.out, QByteArray(":W000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;\r\n"));

        const QString bad = write(QStringLiteral("bad.hex"), ":10000000000102030405060708090A0B0C0D0EZZ78\r\n");
        r = morvenctl({"convert", "--format", "w", bad, "-o", dir.filePath(QStringLiteral("never.txt"))});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("Line 1:"), r.err.constData());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("never.txt"))));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"fly"};
        QTest::newRow("convert without format") << QStringList{"convert", "x.hex"};
        QTest::newRow("convert bad format") << QStringList{"convert", "--format", "q", "x.hex"};
        QTest::newRow("flash without link") << QStringList{"flash", "x.txt"};
        QTest::newRow("flash missing file") << QStringList{"flash", "/nonexistent/x.txt", "--tcp", "127.0.0.1:9"};
        QTest::newRow("flash bad endpoint") << QStringList{"flash", "x.txt", "--tcp", "127.0.0.1"};
        QTest::newRow("flash both links")
            << QStringList{"flash", "x.txt", "--tcp", "127.0.0.1:9", "--serial", "/dev/null"};
        QTest::newRow("unknown option") << QStringList{"ping", "--fast"};
        QTest::newRow("bad timeout") << QStringList{"ping", "--tcp", "127.0.0.1:9", "--reply-timeout", "soon"};
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        const Result r = morvenctl(args);
        QCOMPARE(r.code, 2);
        QVERIFY(!r.err.isEmpty());
    }

    void badInputFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QList<int>>("codes"); // what convert may answer
        QTest::newRow("empty") << "empty" << QList<int>{0};
        QTest::newRow("binary") << "binary" << QList<int>{0, 2};
        QTest::newRow("one 10 MB line") << "long" << QList<int>{0, 2};
        QTest::newRow("unreadable") << "unreadable" << QList<int>{2};
        QTest::newRow("folder") << "folder" << QList<int>{2};
        QTest::newRow("missing") << "missing" << QList<int>{2};
    }
    void badInputFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QList<int>, codes);
        QString path;
        if (kind == QLatin1String("empty"))
            path = write(QStringLiteral("empty.hex"), QByteArray());
        else if (kind == QLatin1String("binary")) {
            QByteArray bytes(64 * 1024, '\0');
            QRandomGenerator random(3);
            for (char &c : bytes)
                c = char(random.bounded(256));
            path = write(QStringLiteral("binary.hex"), bytes);
        } else if (kind == QLatin1String("long"))
            path = write(QStringLiteral("long.hex"), ":" + QByteArray(10 * 1024 * 1024, '0'));
        else if (kind == QLatin1String("unreadable"))
            path = QStringLiteral("/proc/self/mem");
        else if (kind == QLatin1String("folder"))
            path = dir.path();
        else
            path = dir.filePath(QStringLiteral("missing.hex"));
        const Result convert = morvenctl({"convert", "--format", "pw", path, "-o", dir.filePath(QStringLiteral("o.txt"))});
        QVERIFY2(codes.contains(convert.code), qPrintable(QString::number(convert.code)));
        if (convert.code != 0)
            QVERIFY(!convert.err.isEmpty());
        // flash refuses what it cannot read before it opens any link.
        const Result flash = morvenctl({"flash", path, "--tcp", "127.0.0.1:9", "--convert", "w", "--wait-timeout", "1"});
        QVERIFY(flash.code == 2 || flash.code == 3);
    }

    void helpForEveryCommand()
    {
        for (const char *command : {"convert", "flash", "ping", "erase", "sim"}) {
            const Result r = morvenctl({command, "--help"});
            QCOMPARE(r.code, 0);
            QVERIFY2(r.out.contains("--"), command);
        }
        QCOMPARE(morvenctl({"--help"}).code, 0);
    }

    void flashOverTcpWithPlainProgress()
    {
        sim::Options options;
        options.powerUpAfter = 2;
        options.rejections[3] = 2;
        sim::SimTarget target(options);
        QVERIFY(target.listen());
        QStringList lines;
        const QString file = downloadFile(50, &lines);
        const Result r = morvenctl({"flash", file, "--tcp", endpoint(target)});
        QCOMPARE(r.code, 0);
        QCOMPARE(accepted(target), lines);
        QCOMPARE(target.bootloader().timesReceived(3), 3);
        QCOMPARE(target.bootloader().eraseSelectors(), std::vector<int>{2});
        // Plain, stable lines for wrappers.
        const QRegularExpression progress(
            QStringLiteral("^progress 127\\.0\\.0\\.1:\\d+ (\\d+)/50 lines (\\d+)% [\\d.]+ kB/s eta \\d+:\\d\\d$"),
            QRegularExpression::MultilineOption);
        QVERIFY2(progress.match(QString::fromLatin1(r.err)).hasMatch(), r.err.constData());
        QVERIFY(r.err.contains("progress " + endpoint(target).toLatin1() + " 50/50 lines 100%"));
        QVERIFY(r.err.contains("ok " + endpoint(target).toLatin1() + ": 50 lines"));
    }

    void flashJsonEvents()
    {
        sim::SimTarget target;
        QVERIFY(target.listen());
        const QString file = downloadFile(5);
        const Result r = morvenctl({"flash", file, "--tcp", endpoint(target), "--json", "--quiet"});
        QCOMPARE(r.code, 0);
        QStringList events;
        for (const QByteArray &line : r.out.split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QVERIFY2(!o.isEmpty(), line.constData());
            events << o.value(QLatin1String("event")).toString();
            if (o.value(QLatin1String("event")) == QLatin1String("done"))
                QCOMPARE(o.value(QLatin1String("lines_done")).toInt(), 5);
        }
        QCOMPARE(events.first(), QStringLiteral("stage"));
        QVERIFY(events.contains(QStringLiteral("progress")));
        QCOMPARE(events.mid(events.size() - 2), (QStringList{"done", "summary"}));
        QVERIFY(r.err.isEmpty());
    }

    void flashConvertsRecordsOnTheFly()
    {
        QRandomGenerator random(99);
        const QString input = write(QStringLiteral("fly.hex"), records(random, 64, false));
        const QString converted = dir.filePath(QStringLiteral("fly.txt"));
        QCOMPARE(morvenctl({"convert", "--format", "pw", input, "-o", converted}).code, 0);
        sim::SimTarget target;
        QVERIFY(target.listen());
        QCOMPARE(morvenctl({"flash", input, "--convert", "pw", "--tcp", endpoint(target), "--o-download"}).code, 0);
        QCOMPARE(accepted(target), linesOf(read(converted)));
        QCOMPARE(target.bootloader().downloadKind(), 'O');
    }

    void flashOverPty()
    {
        sim::SimTarget target;
        QVERIFY(target.openPty());
        QStringList lines;
        const QString file = downloadFile(30, &lines);
        const Result r = morvenctl({"flash", file, "--serial", target.ptyPath(), "--baud", "115200", "--no-erase"});
        QCOMPARE(r.code, 0);
        QCOMPARE(accepted(target), lines);
        QVERIFY(target.bootloader().eraseSelectors().empty());
    }

    void severalTargetsAtOnce()
    {
        std::vector<std::unique_ptr<sim::SimTarget>> targets;
        QStringList args{"flash", downloadFile(40), "--no-wait"};
        for (int i = 0; i < 4; ++i) {
            sim::TransportOptions transport;
            transport.replyDelayMs = 2;
            targets.push_back(std::make_unique<sim::SimTarget>(sim::Options{}, transport));
            QVERIFY(targets.back()->listen());
            args << "--tcp" << endpoint(*targets.back());
        }
        const Result r = morvenctl(args);
        QCOMPARE(r.code, 0);
        for (auto &t : targets)
            QCOMPARE(t->bootloader().acceptedLines().size(), std::size_t(40));
        QVERIFY2(r.err.contains("summary: 4 of 4 targets updated"), r.err.constData());
    }

    void oneFailingTargetGivesItsCode()
    {
        sim::SimTarget good;
        sim::Options options;
        options.eraseStatus = 0;
        sim::SimTarget bad(options);
        QVERIFY(good.listen());
        QVERIFY(bad.listen());
        const Result r
            = morvenctl({"flash", downloadFile(5), "--no-wait", "--tcp", endpoint(good), "--tcp", endpoint(bad)});
        QCOMPARE(r.code, 5);
        QCOMPARE(good.bootloader().acceptedLines().size(), std::size_t(5));
        QVERIFY(r.err.contains("summary: 1 of 2 targets updated"));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("code");
        QTest::newRow("nothing listening") << "closed" << 3;
        QTest::newRow("no bootloader answer") << "silent" << 4;
        QTest::newRow("erase failed") << "erase0" << 5;
        QTest::newRow("not blank after erase") << "erase1" << 5;
        QTest::newRow("line rejected 11 times") << "reject" << 6;
        QTest::newRow("target stops answering") << "silent-nowait" << 7;
        QTest::newRow("connection dropped mid-download") << "drop" << 7;
        QTest::newRow("whole run too long") << "overall" << 8;
    }
    void exitCodes()
    {
        QFETCH(QString, scenario);
        QFETCH(int, code);
        sim::Options options;
        QStringList extra{"--wait-timeout", "1", "--reply-timeout", "500"};
        if (scenario.startsWith(QLatin1String("silent")))
            options.silent = true;
        if (scenario == QLatin1String("silent-nowait"))
            extra << "--no-wait";
        if (scenario == QLatin1String("erase0"))
            options.eraseStatus = 0;
        if (scenario == QLatin1String("erase1"))
            options.eraseStatus = 1;
        if (scenario == QLatin1String("reject"))
            options.rejections[1] = 11;
        if (scenario == QLatin1String("drop"))
            options.dropAtLine = 2;
        if (scenario == QLatin1String("overall")) {
            options.silent = true;
            extra = QStringList{"--wait-timeout", "30", "--timeout", "1"};
        }
        sim::SimTarget target(options);
        QVERIFY(target.listen());
        const QString at = endpoint(target);
        if (scenario == QLatin1String("closed"))
            target.stopListening();
        const Result r = morvenctl(QStringList{"flash", downloadFile(4), "--tcp", at} + extra);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains("error " + at.toLatin1()), r.err.constData());
    }

    void pingAndErase()
    {
        sim::Options options;
        options.powerUpAfter = 2;
        sim::SimTarget target(options);
        QVERIFY(target.listen());
        QCOMPARE(morvenctl({"ping", "--tcp", endpoint(target), "--quiet"}).code, 0);
        QCOMPARE(target.bootloader().linkTests(), 3);
        QCOMPARE(morvenctl({"erase", "--data", "--tcp", endpoint(target), "--quiet"}).code, 0);
        QCOMPARE(target.bootloader().eraseSelectors(), std::vector<int>{1});
        QCOMPARE(morvenctl({"erase", "--tcp", endpoint(target), "--quiet"}).code, 0);
        QCOMPARE(target.bootloader().eraseSelectors(), (std::vector<int>{1, 2}));
    }
};

QTEST_MAIN(Morvenctl)
#include "test_morvenctl.moc"

// S-record and binary files turned into Intel HEX record lines, line for line as srec_cat writes
// them, and the files refused.
#include "records/binaryreader.h"
#include "records/srecordreader.h"
#include "support/testmain.h"

#include <QProcess>
#include <QTest>

#include <algorithm>
#include <numeric>
#include <random>

namespace {

struct Outcome
{
    QStringList lines;
    int exitCode = 0;
    std::optional<morven::InputError> error;
};

// An S-record line with a correct checksum; the address field is as long as the type says.
QByteArray srec(int type, quint32 address, const QByteArray &data = {})
{
    const int addressBytes = "2234234432"[type] - '0';
    QByteArray body(1, char(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        body += char(address >> (8 * i));
    body += data;
    const auto sum = std::accumulate(body.begin(), body.end(), 0u, [](unsigned s, char c) { return s + quint8(c); });
    return "S" + QByteArray::number(type) + (body + char(~sum)).toHex().toUpper() + "\n";
}

Outcome srecCat(const QByteArray &file, qint64 binaryAddress)
{
    const QStringList binary{"-binary", "-offset", QString::number(binaryAddress)};
    QProcess p; // the file comes on standard input
    p.start("srec_cat",
        QStringList{"-"} + (binaryAddress < 0 ? QStringList() : binary) + QStringList{"-o", "-", "-intel", "-obs=16"});
    p.write(file);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return {{"srec_cat (package srecord) did not run: " + p.errorString()}, -1, {}};
    return {QString::fromLatin1(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), p.exitCode(), {}};
}

// Our reading of the file; a binary comes in uneven pieces, as from a file.
Outcome ours(const QByteArray &file, qint64 binaryAddress)
{
    Outcome o;
    auto sink = [&o](std::string_view l) { o.lines << QString::fromLatin1(l.data(), qsizetype(l.size())); };
    if (binaryAddress >= 0) {
        morven::BinaryReader reader(quint32(binaryAddress), sink);
        for (qsizetype at = 0, n = 1; at < file.size() && !o.error; at += n, n = n * 3 % 97 + 1)
            o.error = reader.add(std::string_view(file.constData() + at, std::size_t(std::min(n, file.size() - at))));
        if (!o.error)
            o.error = reader.finish();
        return o;
    }
    morven::SrecordReader reader;
    std::size_t lineNo = 0;
    for (const QByteArray &line : file.split('\n')) {
        if (!o.error)
            o.error = reader.addLine(std::string_view(line.constData(), std::size_t(line.size())), ++lineNo);
    }
    if (!o.error)
        o.error = reader.finish(sink);
    return o;
}

// Records of a few blocks (near 0, a 64 KiB boundary or the top), cut at random points that may
// overlap, maybe shuffled, with a count record and start records now and then.
// A byte's value depends on its address only, so overlaps agree.
QByteArray randomSrecords(std::mt19937 &rng)
{
    auto pick = [&rng](quint64 n) { return quint64(rng()) % n; };
    const int type = 1 + int(pick(3));
    const quint64 span = type == 1 ? 0x10000 : type == 2 ? 0x1000000 : 0x100000000;
    QList<QByteArray> records;
    for (int block = 1 + int(pick(4)); block > 0; --block) {
        const quint64 bases[] = {pick(0x900), ((1 + pick(span >> 16)) << 16) - pick(40), span - pick(300)};
        const quint64 base = bases[pick(3)];
        const quint64 end = base + 1 + pick(400);
        for (quint64 a = base; a < end;) {
            const quint64 n = std::min<quint64>(1 + pick(40), end - a);
            const auto start = quint32(a % span);
            QByteArray data;
            for (quint32 at = start; at != quint32(start + n); ++at)
                data += char(at * 37 + (at >> 9));
            records << srec(type, start, data);
            a += pick(5) == 0 ? n / 2 + 1 : n;
        }
    }
    if (pick(3) == 0)
        std::shuffle(records.begin(), records.end(), rng);
    if (pick(2) == 0)
        records << srec(5, quint32(records.size()));
    for (quint64 starts = pick(3); starts > 0; --starts)
        records.insert(qsizetype(pick(quint64(records.size()))), srec(10 - type, quint32(pick(span))));
    return (pick(2) ? srec(0, 0, "hdr") : QByteArray()) + records.join();
}

} // namespace

class TestLoadFormats : public QObject
{
    Q_OBJECT

private slots:
    void asSrecCat_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("binaryAddress"); // -1: S-records
        QTest::addColumn<int>("refusedLine"); // 0: converted; below 0: srec_cat skips it as garbage
        QTest::addColumn<QString>("word"); // in the refusal
        auto row
            = [](const char *name, const QByteArray &file, qint64 address = -1, int line = 0, const char *word = "") {
                  QTest::newRow(name) << file << address << line << QString::fromLatin1(word);
              };
        const QByteArray ok = srec(1, 0x10, "abc");
        row("header, data, start 0", srec(0, 0, "hdr") + ok + srec(9, 0));
        row("lower case, blank lines, no start", "\nS1060010010203e3\n\n" + srec(1, 0x20, "x"));
        row("empty file", "");
        row("start address only", srec(7, 0x12345678));
        row("first start wins, data after it", srec(9, 0x1234) + ok + srec(9, 0x5678));
        row("empty data record counted", ok + srec(1, 9) + srec(5, 2) + srec(6, 2));
        row("empty binary", "", 0x1000);
        std::mt19937 rng(20240601);
        for (int i = 0; i < 40; ++i)
            row(qPrintable(QString("random S-records %1").arg(i)), randomSrecords(rng));
        for (int i = 0; i < 15; ++i) {
            QByteArray file(qsizetype(rng() % 700), '\0');
            std::generate(file.begin(), file.end(), [&rng] { return char(rng()); });
            const qint64 addresses[] = {qint64(0xFFFFFFFF - rng() % 800), qint64(0x1FFF0 + rng() % 32), qint64(rng())};
            row(qPrintable(QString("random binary %1").arg(i)), file, addresses[i % 3]);
        }
        row("not an S-record", ok + "\nhello\n", -1, -3, "S-record");
        row("type S4", "S4030000FC\n", -1, 1, "type");
        row("shorter than its count", "S1060010010203\n", -1, 1, "digits");
        row("checksum", "S1060010010203E4\n", -1, 1, "checksum");
        row("wrong count record", ok + ok + srec(5, 3), -1, 3, "data records");
        row("different values", ok + srec(1, 0x20, "z") + srec(1, 0x11, "bX"), -1, 3, "already");
    }

    void asSrecCat()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, binaryAddress);
        QFETCH(int, refusedLine);
        QFETCH(QString, word);
        const Outcome expected = srecCat(file, binaryAddress), actual = ours(file, binaryAddress);
        QCOMPARE(expected.exitCode != 0, refusedLine > 0);
        if (refusedLine == 0) {
            QVERIFY2(!actual.error, actual.error ? actual.error->message.c_str() : "");
            QCOMPARE(actual.lines, expected.lines);
        } else {
            QVERIFY2(actual.error, "not refused");
            QCOMPARE(actual.error->line, std::size_t(std::abs(refusedLine)));
            QVERIFY2(QString::fromStdString(actual.error->message).contains(word), actual.error->message.c_str());
        }
    }
};

MORVEN_TEST_CLASS(TestLoadFormats)
#include "test_loadformats.moc"

MORVEN_TEST_MAIN_ALL(QCoreApplication)

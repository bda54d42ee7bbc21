// A patch written into the records on their way to the converter: the lines are those of the
// file patched by hand, bytes are added only right after the image, anything else is refused,
// and every input format gives the same lines.
#include "records/binaryreader.h"
#include "records/firmwareinput.h"
#include "support/cliprocess.h"
#include "support/testmain.h"

#include <QTest>

#include <numeric>

using morven::Format;
using morven::InputOptions;
using morven::test::hexRecord;

namespace {

const QByteArray kEnd = ":00000001FF";

QByteArray counting(int first, int n)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char(first + i * 7);
    return d;
}

QByteArray upper(quint16 u, quint8 type = 4)
{
    return hexRecord(QByteArray::fromHex(QByteArray::number(u, 16).rightJustified(4, '0')), 0, type);
}

QByteArray fileOf(const QList<QByteArray> &records)
{
    return records.join('\n') + '\n';
}

// Records of 16 bytes from offset 0 under upper address 0x0800, then `more`, then the end record.
QByteArray image(const QByteArray &data, const QList<QByteArray> &more = {})
{
    QList<QByteArray> r{upper(0x0800)};
    for (int at = 0; at < data.size(); at += 16)
        r << hexRecord(data.mid(at, 16), quint16(at));
    return fileOf(r + more + QList<QByteArray>{kEnd});
}

// S3 records of 16 bytes from `address`.
QByteArray srecords(const QByteArray &data, quint32 address)
{
    QByteArray out;
    for (int at = 0; at < data.size(); at += 16) {
        const QByteArray a = QByteArray::number(address + quint32(at), 16).rightJustified(8, '0');
        const QByteArray body = char(qMin(16, int(data.size()) - at) + 5) + QByteArray::fromHex(a) + data.mid(at, 16);
        const unsigned sum
            = std::accumulate(body.begin(), body.end(), 0u, [](unsigned s, char c) { return s + quint8(c); });
        out += "S3" + (body + char(~sum)).toHex().toUpper() + "\n";
    }
    return out;
}

struct Run
{
    QList<QByteArray> lines;
    QString error;
};

Run convert(const QByteArray &file, Format f, std::optional<morven::Patch> patch, std::optional<quint32> address = {})
{
    InputOptions options;
    options.format = f;
    options.patch = std::move(patch);
    if (address)
        options.inputFormat = morven::InputFormat::Binary, options.address = address;
    Run run;
    morven::FirmwareInput input(
        options, [&](std::string_view l) { run.lines << QByteArray(l.data(), qsizetype(l.size())); });
    std::optional<morven::InputError> error = input.feed(std::string_view(file.constData(), std::size_t(file.size())));
    if (!error)
        error = input.finish();
    if (error)
        run.error = QString("%1: %2").arg(error->line).arg(QString::fromStdString(error->message));
    return run;
}

} // namespace

class TestRecordPatch : public QObject
{
    Q_OBJECT

private slots:
    void patched_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("byHand"); // empty: refused
        QTest::addColumn<QStringList>("words");
        const QByteArray d = counting(0, 32), ab("\xAA\xBB\xCC\xDD");
        auto with
            = [](QByteArray data, int at, const QByteArray &bytes) { return data.replace(at, bytes.size(), bytes); };
        auto row = [](const char *tag, const QByteArray &file, quint32 address, const QByteArray &bytes,
                       const QByteArray &byHand, const QStringList &words = {}) {
            QTest::newRow(tag) << file << address << bytes << byHand << words;
        };
        row("inside one record", image(d), 0x08000004, ab.left(2), image(with(d, 4, ab.left(2))));
        row("across two records", image(d), 0x0800000E, ab, image(with(d, 14, ab)));
        row("added after the last byte", image(d), 0x08000020, ab.left(3), image(d, {hexRecord(ab.left(3), 0x20)}));
        const QList<QByteArray> across{
            upper(0x0800), hexRecord(d.left(16), 0xFFF0), upper(0x0801), hexRecord(d.mid(16), 0)};
        row("across a 04 record", fileOf(across + QList{kEnd}), 0x0800FFFC, ab + ab,
            fileOf({upper(0x0800), hexRecord(with(d.left(16), 12, ab), 0xFFF0), upper(0x0801),
                hexRecord(with(d.mid(16), 0, ab), 0), kEnd}));
        row("segment address", fileOf({upper(0x1000, 2), hexRecord(d, 8), kEnd}), 0x00010010, ab,
            fileOf({upper(0x1000, 2), hexRecord(with(d, 8, ab), 8), kEnd}));
        row("added with a 04 record", fileOf(across.mid(0, 2) + QList{kEnd}), 0x08010000, ab,
            fileOf(across.mid(0, 2) + QList{upper(0x0801), hexRecord(ab, 0), kEnd}));
        row("added after a start record", image(d, {hexRecord(ab, 0, 5)}), 0x08000020, ab,
            image(d, {hexRecord(ab, 0, 5), hexRecord(ab, 0x20)}));

        const QString range = "is outside the image (0x08000000 to 0x0800001F)";
        const QString onlyAfter = "can only be added right after its last byte, at 0x08000020, because download "
                                  "lines carry no address";
        row("before", image(d), 0x07FFFFFF, ab.left(2), {}, {"0: address 0x07FFFFFF (2 bytes) " + range, onlyAfter});
        row("beyond", image(d), 0x08000021, ab, {}, {"address 0x08000021 (4 bytes) " + range, onlyAfter});
        row("partly outside", image(d), 0x0800001E, ab, {}, {"0x08000020, of the 4 bytes at 0x0800001E, " + range});
        row("gap", fileOf({upper(0x0800), hexRecord(d.left(16), 0), hexRecord(d.mid(16), 0x20), kEnd}), 0x08000012,
            ab.left(1), {}, {"0x08000012 (1 byte)", "(0x08000000 to 0x0800002F)", "at 0x08000030"});
        row("around an earlier record",
            fileOf({upper(0x0800), hexRecord(d.left(16), 0x20), hexRecord(d.mid(16), 0), kEnd}), 0x08000010,
            counting(1, 36), {}, {"0x08000010 (36 bytes) is outside the image (0x08000000 to 0x0800002F)"});
        row("data after the end record", image(d, {}) + hexRecord(d, 0x40) + "\n" + kEnd, 0x08000020, ab, {},
            {"follow its end-of-file record"});
        row("no bytes", image(d), 0x08000000, {}, {}, {"0: the patch holds no bytes"});
        row("too many", image(d), 0x08000000, QByteArray(65, 'x'), {}, {"65 bytes, more than 64"});
        row("past 4 GiB", image(d), 0xFFFFFFFE, ab, {}, {"0xFFFFFFFE run past the top of the 4 GiB"});
    }
    void patched()
    {
        QFETCH(QByteArray, file);
        QFETCH(quint32, address);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, byHand);
        QFETCH(QStringList, words);
        for (const Format f : {Format::O, Format::W, Format::PW}) {
            const Run run = convert(file, f, morven::Patch{address, bytes.toStdString()});
            for (const QString &w : words)
                QVERIFY2(run.error.contains(w), qPrintable(run.error + " lacks: " + w));
            if (byHand.isEmpty()) {
                QVERIFY2(!run.error.isEmpty(), "not refused");
                continue;
            }
            if (f == Format::O) { // every record passed on is whole, its checksum made anew
                morven::RecordPatcher patcher(morven::Patch{address, bytes.toStdString()},
                    [](std::string_view r) { QVERIFY2(!morven::checkIntelHexRecord(r), std::string(r).c_str()); });
                for (const QByteArray &r : file.split('\n'))
                    if (!r.isEmpty())
                        patcher.feed(std::string_view(r.constData(), std::size_t(r.size())));
                QVERIFY(!patcher.finish());
            }
            const Run expected = convert(byHand, f, {});
            QVERIFY2(run.error.isEmpty() && expected.error.isEmpty(), qPrintable(run.error + expected.error));
            QCOMPARE(run.lines, expected.lines);
        }
    }

    // The same image as binary data, S-records and the Intel HEX records they become, patched
    // inside, across a 64 KiB boundary and after its end.
    void sameForEveryInput()
    {
        const QByteArray data = counting(3, 100);
        constexpr quint32 load = 0x0800FFC0;
        QByteArray hex;
        morven::BinaryReader reader(
            load, [&](std::string_view r) { hex += QByteArray(r.data(), qsizetype(r.size())) + "\n"; });
        QVERIFY(!reader.add(std::string_view(data.constData(), std::size_t(data.size()))) && !reader.finish());
        for (const auto &[address, size] : {std::pair{0x0800FFC4u, 3}, {0x0800FFFEu, 4}, {0x08010024u, 64}}) {
            for (const Format f : {Format::W, Format::PW}) {
                const morven::Patch patch = {address, counting(200, size).toStdString()};
                const Run fromBinary = convert(data, f, patch, load),
                          fromSrec = convert(srecords(data, load), f, patch), fromHex = convert(hex, f, patch),
                          unpatched = convert(hex, f, {});
                QVERIFY2(fromBinary.error.isEmpty(), qPrintable(fromBinary.error));
                QCOMPARE(fromSrec.lines, fromBinary.lines);
                QCOMPARE(fromHex.lines, fromBinary.lines);
                QVERIFY2(fromHex.lines != unpatched.lines, qPrintable(QString::number(address, 16)));
            }
        }
    }
};

MORVEN_TEST_CLASS(TestRecordPatch)
#include "test_recordpatch.moc"

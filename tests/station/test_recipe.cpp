// Recipes read strictly and written back, and the image they name checked and converted.
#include "station/image.h"
#include "station/recipe.h"
#include "support/testmain.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace morven;
using namespace morven::station;

namespace {

const QByteArray kHex = ":10000000000102030405060708090A0B0C0D0E0F78\n"
                        ":10001000000102030405060708090A0B0C0D0E0F68\n"
                        ":00000001FF\n";

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// `o` with the keys of `patch` put over it (a null value removes the key).
QJsonObject with(QJsonObject o, const QJsonObject &patch)
{
    for (auto it = patch.begin(); it != patch.end(); ++it)
        it->isNull() ? o.remove(it.key()) : void(o.insert(it.key(), *it));
    return o;
}

// A good recipe with `patch` put over it.
QByteArray recipeWith(const QJsonObject &patch)
{
    return QJsonDocument(with({{"name", "Board"}, {"firmware", "fw.hex"}, {"sha256", sha256Of(kHex)}, {"format", "w"},
                                  {"slots", QJsonArray{QJsonObject{{"label", "A1"}, {"port", "tcp:127.0.0.1:7001"}}}}},
                             patch))
        .toJson();
}

// A good unit serial setting with `patch` put over it.
QJsonObject serialWith(const QJsonObject &patch)
{
    return with({{"address", "0x10"}, {"format", "u32le"}}, patch);
}

QJsonArray slotsOf(const QStringList &labelsAndPorts)
{
    QJsonArray a;
    for (qsizetype i = 0; i + 1 < labelsAndPorts.size(); i += 2)
        a.append(QJsonObject{{"label", labelsAndPorts[i]}, {"port", labelsAndPorts[i + 1]}});
    return a;
}

} // namespace

class RecipeTest : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("words");
        auto row = [](const char *tag, const QJsonObject &patch, const QStringList &words) {
            QTest::newRow(tag) << recipeWith(patch) << words;
        };
        auto serial = [&row](const char *tag, const QJsonObject &patch, const QString &setting, const QString &word) {
            row(tag, {{"unit_serial", serialWith(patch)}}, {"unit_serial." + setting + ": ", word});
        };
        QTest::newRow("not JSON") << QByteArray("{\"name\": ") << QStringList{"not JSON", "offset 9"};
        QTest::newRow("not an object") << QByteArray("[1]") << QStringList{"JSON object"};
        row("unknown key", {{"baudrate", 9600}}, {"unknown key \"baudrate\""});
        row("no name", {{"name", QJsonValue::Null}}, {"missing key \"name\""});
        row("blank name", {{"name", " "}}, {"\"name\" is empty"});
        row("firmware a number", {{"firmware", 5}}, {"\"firmware\" must be a string, not a number"});
        row("short sha256", {{"sha256", "abc"}}, {"\"sha256\"", "64 hexadecimal"});
        row("format", {{"format", "x"}}, {"\"format\"", "o, w or pw"});
        row("input_format", {{"input_format", "hex"}}, {"\"input_format\"", "ihex, srec or bin"});
        row("address digits", {{"input_format", "bin"}, {"address", "0x1G"}}, {"\"address\"", "\"0x1G\""});
        row("address 4 GiB", {{"input_format", "bin"}, {"address", "4294967296"}}, {"\"address\"", "4 GiB"});
        row("address, not binary", {{"input_format", "ihex"}, {"address", "0x100"}}, {"\"address\"", "\"bin\""});
        row("baud 0", {{"baud", 0}}, {"\"baud\"", "from 50"});
        row("baud a string", {{"baud", "fast"}}, {"\"baud\" must be a number"});
        row("reply timeout", {{"reply_timeout_ms", 5}}, {"\"reply_timeout_ms\""});
        row("probe interval", {{"probe_interval_ms", 1.5}}, {"\"probe_interval_ms\"", "whole number"});
        row("leave probes", {{"leave_probes", 0}}, {"\"leave_probes\""});
        row("unit_serial", {{"unit_serial", 3}}, {"\"unit_serial\" must be an object"});
        serial("serial key", {{"serie", "x"}}, "serie", "unknown key");
        serial("serial series", {{"series", 5}}, "series", "must be a string");
        serial("serial no address", {{"address", QJsonValue::Null}}, "address", "missing");
        serial("serial address digits", {{"address", "0x1G"}}, "address", "\"0x1G\"");
        serial(
            "serial past the top", {{"address", "0xFFFFFFFE"}}, "address", "4 bytes of u32le at 0xFFFFFFFE run past");
        serial("serial no format", {{"format", QJsonValue::Null}}, "format", "missing");
        serial("serial format", {{"format", "u16"}}, "format", "u32le, u32be or ascii:N");
        serial("serial ascii:0", {{"format", "ascii:0"}}, "format", "\"ascii:0\"");
        serial("serial ascii:21", {{"format", "ascii:21"}}, "format", "from 1 to 20");
        serial("serial first -1", {{"first", -1}}, "first", "from 0 to 4294967295 (u32le), not -1");
        serial("serial first 1.5", {{"first", 1.5}}, "first", "whole number");
        serial("serial first past u32", {{"first", 4294967296.0}}, "first", "not 4294967296");
        serial("serial first past ascii", {{"format", "ascii:4"}, {"first", 10000}}, "first", "0 to 9999 (ascii:4)");
        serial("serial first a string", {{"first", "1"}}, "first", "must be a number, not a string");
        row("no slots", {{"slots", QJsonValue::Null}}, {"missing key \"slots\""});
        row("empty slots", {{"slots", QJsonArray{}}}, {"\"slots\" is empty"});
        row("slot a number", {{"slots", QJsonArray{5}}}, {"slots[0] must be an object"});
        row("slot key", {{"slots", QJsonArray{QJsonObject{{"label", "A1"}, {"port", "/dev/x"}, {"baud", 1}}}}},
            {"slot \"A1\": unknown key \"baud\""});
        row("no label", {{"slots", QJsonArray{QJsonObject{{"port", "/dev/x"}}}}}, {"slots[0]: missing key \"label\""});
        row("no port", {{"slots", QJsonArray{QJsonObject{{"label", "A1"}}}}}, {"slot \"A1\": missing key \"port\""});
        row("label twice", {{"slots", slotsOf({"A1", "/dev/a", "A1", "/dev/b"})}}, {"slot \"A1\" appears twice"});
        row("device twice", {{"slots", slotsOf({"A1", "/dev/ttyUSB0", "A2", "/dev//ttyUSB0"})}},
            {"\"A1\" and \"A2\" are both on port"});
        row("usb twice", {{"slots", slotsOf({"A1", "usb:FT1", "A2", "usb:FT1"})}}, {"\"A1\" and \"A2\""});
        row("tcp twice", {{"slots", slotsOf({"A1", "tcp:LocalHost:7001", "A2", "tcp:localhost:7001"})}},
            {"\"A1\" and \"A2\""});
        row("relative device", {{"slots", slotsOf({"B1", "ttyUSB0"})}}, {"slot \"B1\"", "\"ttyUSB0\" is not"});
        row("tcp port 0", {{"slots", slotsOf({"B1", "tcp:host:0"})}}, {"slot \"B1\"", "tcp:HOST:PORT"});
        row("usb without serial", {{"slots", slotsOf({"B1", "usb:"})}}, {"slot \"B1\"", "USB serial"});
    }
    void refusals()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, words);
        Recipe r;
        r.name = "untouched";
        const std::optional<QString> why = parseRecipe(json, "/recipes", r);
        QVERIFY2(why, json.constData());
        for (const QString &w : words)
            QVERIFY2(why->contains(w), qPrintable(*why + " lacks: " + w));
        QCOMPARE(r.name, QString("untouched"));
    }

    void roundTrip()
    {
        const QByteArray json
            = recipeWith({{"sha256", QString(64, 'A')}, {"input_format", "BIN"}, {"address", "0x08000000"},
                {"baud", 9600}, {"reply_timeout_ms", 500}, {"probe_interval_ms", 50}, {"leave_probes", 5},
                {"firmware", "../images/fw.bin"}, {"unit_serial", serialWith({{"first", 1000}, {"format", "ASCII:8"}})},
                {"slots", slotsOf({"A1", " /dev/serial/by-path/x ", "A2", "usb:FT5XK2P1", "B1", "tcp:[::1]:7002"})}});
        Recipe r;
        QVERIFY2(!parseRecipe(json, "/work/recipes", r), json.constData());
        QCOMPARE(r.firmwarePath, QString("/work/images/fw.bin"));
        QCOMPARE(r.sha256, QString(64, 'a'));
        QCOMPARE(r.inputFormat, InputFormat::Binary);
        QCOMPARE(r.address, 0x08000000u);
        QVERIFY(r.serial);
        QCOMPARE(r.serial->series, QString("Board")); // the recipe's name when it names none
        QCOMPARE(r.serial->address, 0x10u);
        QCOMPARE(formatName(*r.serial), QString("ascii:8"));
        QCOMPARE(r.serial->first, qint64(1000));
        QCOMPARE(r.slotList.size(), 3u);
        QCOMPARE(r.slotList[0].port.device, QString("/dev/serial/by-path/x"));
        QCOMPARE(r.slotList[1].port.usbSerial, QString("FT5XK2P1"));
        QCOMPARE(r.slotList[2].port.host, QString("::1"));
        QCOMPARE(r.slotList[2].port.port, 7002);
        Recipe back;
        QVERIFY(!parseRecipe(recipeJson(r), "/work/recipes", back));
        QVERIFY(back == r);
    }

    void serialBytes_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QByteArray>("bytes"); // empty: refused with `refusal`
        QTest::addColumn<QString>("refusal");
        auto row = [](const char *format, qint64 n, const QByteArray &bytes, const QString &refusal = {}) {
            QTest::addRow("%s %lld", format, n) << QString(format) << n << bytes << refusal;
        };
        row("u32le", 0x01020304, "\x04\x03\x02\x01");
        row("u32be", 0x01020304, "\x01\x02\x03\x04");
        row("u32le", 0x100000000, {}, "unit_serial: number 4294967296 no longer fits u32le (at most 4294967295)");
        row("u32le", -1, {}, "unit_serial: number -1 is below 0");
        row("ascii:8", 1234, "00001234");
        row("ascii:1", 0, "0");
        row("ascii:3", 1000, {}, "unit_serial: number 1000 no longer fits ascii:3 (at most 999)");
        row("ascii:19", std::numeric_limits<qint64>::max(), "9223372036854775807");
        row("ascii:20", std::numeric_limits<qint64>::max(), "09223372036854775807");
    }
    void serialBytes()
    {
        QFETCH(QString, format);
        QFETCH(qint64, number);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, refusal);
        UnitSerial s;
        QVERIFY(!parseUnitSerial(serialWith({{"format", format}}), "Board", s));
        QCOMPARE(formatName(s), format);
        std::string out = "untouched";
        const std::optional<QString> why = station::serialBytes(s, number, out);
        QCOMPARE(why.value_or(QString()), refusal);
        QCOMPARE(QByteArray::fromStdString(out), bytes.isEmpty() ? QByteArray("untouched") : bytes);
    }

    void loadImage_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QJsonObject>("patch");
        QTest::addColumn<QStringList>("words"); // none: loaded
        const QByteArray badSum = QByteArray(kHex).replace("0F68", "0F69");
        const QByteArray tooLong(8 << 20, '\x5A');
        QTest::newRow("w") << kHex << QJsonObject{} << QStringList{};
        QTest::newRow("o") << kHex << QJsonObject{{"format", "o"}} << QStringList{};
        QTest::newRow("another file") << kHex << QJsonObject{{"sha256", QString(64, 'b')}}
                                      << QStringList{"SHA-256", sha256Of(kHex).left(12), "bbbbbbbbbbbb...:"};
        QTest::newRow("missing") << kHex << QJsonObject{{"firmware", "nope.hex"}}
                                 << QStringList{"firmware \"nope.hex\": no such file"};
        QTest::newRow("bad record") << badSum << QJsonObject{{"sha256", sha256Of(badSum)}}
                                    << QStringList{"firmware \"fw.hex\": line 2:", "checksum"};
        QTest::newRow("empty") << QByteArray() << QJsonObject{{"sha256", sha256Of({})}}
                               << QStringList{"firmware \"fw.hex\":", "empty"};
        QTest::newRow("too many lines") << tooLong
                                        << QJsonObject{{"sha256", sha256Of(tooLong)}, {"input_format", "bin"}}
                                        << QStringList{"firmware \"fw.hex\":", "at most 32767"};
        QTest::newRow("serial inside") << kHex << QJsonObject{{"unit_serial", serialWith({})}} << QStringList{};
        QTest::newRow("serial outside")
            << kHex << QJsonObject{{"unit_serial", serialWith({{"address", "0x21"}})}}
            << QStringList{
                   "firmware \"fw.hex\": unit_serial.address: address 0x00000021 (4 bytes) is outside the image "
                   "(0x00000000 to 0x0000001F)"};
    }
    void loadImage()
    {
        QFETCH(QByteArray, file);
        QFETCH(QJsonObject, patch);
        QFETCH(QStringList, words);
        QTemporaryDir dir;
        QFile fw(dir.filePath("fw.hex")), recipe(dir.filePath("line.json"));
        QVERIFY(fw.open(QIODevice::WriteOnly) && fw.write(file) == file.size());
        QVERIFY(recipe.open(QIODevice::WriteOnly) && recipe.write(recipeWith(patch)) > 0);
        fw.close();
        recipe.close();
        Recipe r;
        const std::optional<QString> bad = readRecipe(recipe.fileName(), r);
        QVERIFY2(!bad, qPrintable(bad.value_or(QString())));
        Image image;
        const std::optional<QString> why = station::loadImage(r, image);
        QCOMPARE(why.has_value(), !words.isEmpty());
        for (const QString &w : words)
            QVERIFY2(why->contains(w), qPrintable(*why + " lacks: " + w));
        if (why) {
            QVERIFY(image.lines.empty());
            return;
        }
        const char letter = r.format == Format::O ? 'O' : 'W';
        QCOMPARE(image.letter, letter);
        QCOMPARE(image.fileName, QString("fw.hex"));
        QCOMPARE(image.sha256, sha256Of(kHex));
        QVERIFY(!image.lines.empty());
        for (std::size_t i = 0; i < image.lines.size(); ++i)
            QVERIFY(image.lines[i].starts_with(std::string{':', letter}));
        if (!r.serial)
            return;
        // Each unit's copy: its own number in it, and a number its form cannot hold refused.
        QCOMPARE(image.file, kHex);
        LineStore first, next;
        char firstLetter = 0;
        QVERIFY(!unitLines(image, *r.serial, r.serial->first, first, firstLetter));
        QVERIFY(!unitLines(image, *r.serial, 0x10000, next, firstLetter));
        QCOMPARE(firstLetter, letter);
        QCOMPARE(first.size(), image.lines.size());
        QVERIFY(first[0] != image.lines[0] && next[0] != first[0]);
        QVERIFY(unitLines(image, *r.serial, 0x100000000, next, firstLetter).value_or("").contains("no longer fits"));
    }
};
MORVEN_TEST_CLASS(RecipeTest)

#include "test_recipe.moc"

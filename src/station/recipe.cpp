// A station's recipe: reading it strictly, so a typing mistake stops the station before any
// board is touched, and writing it back.
#include "station/recipe.h"

#include "link/endpoint.h"
#include "station/recipevalues.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>

namespace morven::station {

namespace {

// A recipe is a few hundred bytes; anything far bigger is not one.
constexpr qint64 kMaxRecipeBytes = 1 << 20;

// Whether text is whole Unicode: a lone half of a surrogate pair (JSON's "\ud800") cannot go
// into a record's UTF-8 unchanged, and names and labels end up there.
bool isPortableText(const QString &s)
{
    return QStringView(s).isValidUtf16();
}

std::optional<QString> unknownKeys(
    const QJsonObject &o, std::initializer_list<QLatin1StringView> known, const QString &where)
{
    for (auto it = o.begin(); it != o.end(); ++it)
        if (std::none_of(known.begin(), known.end(), [&](QLatin1StringView k) { return it.key() == k; }))
            return QStringLiteral("%1unknown key %2").arg(where, quotedValue(it.key()));
    return std::nullopt;
}

// A string key; `required` ones must be there and hold more than blanks.
std::optional<QString> readText(
    const QJsonObject &o, QLatin1StringView key, bool required, const QString &where, std::optional<QString> &out)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) {
        if (required)
            return QStringLiteral("%1missing key \"%2\"").arg(where, key);
        return std::nullopt;
    }
    if (!v.isString())
        return QStringLiteral("%1\"%2\" must be a string, not %3").arg(where, key, jsonTypeName(v));
    const QString s = v.toString();
    if (s.trimmed().isEmpty())
        return QStringLiteral("%1\"%2\" is empty").arg(where, key);
    if (!isPortableText(s))
        return QStringLiteral("%1\"%2\" holds a broken character (a lone UTF-16 surrogate)").arg(where, key);
    out = s;
    return std::nullopt;
}

// An optional whole number from `minimum` to `maximum`; `out` keeps its default when absent.
template <class Int>
std::optional<QString> readWhole(const QJsonObject &o, QLatin1StringView key, Int minimum, Int maximum, Int &out)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined())
        return std::nullopt;
    if (!v.isDouble())
        return QStringLiteral("\"%1\" must be a number, not %2").arg(key, jsonTypeName(v));
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < double(minimum) || d > double(maximum))
        return QStringLiteral("\"%1\" must be a whole number from %2 to %3, not %4")
            .arg(key)
            .arg(minimum)
            .arg(maximum)
            .arg(d);
    out = static_cast<Int>(d);
    return std::nullopt;
}

std::optional<QString> readAddress(const QJsonObject &o, std::optional<std::uint32_t> &out)
{
    const QJsonValue v = o.value(QLatin1String("address"));
    if (v.isUndefined())
        return std::nullopt;
    std::uint32_t address = 0;
    if (auto why = readAddressValue(v, address))
        return QStringLiteral("\"address\" ") + *why;
    out = address;
    return std::nullopt;
}

std::optional<Format> formatFromText(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("o"))
        return Format::O;
    if (t == QLatin1String("w"))
        return Format::W;
    if (t == QLatin1String("pw"))
        return Format::PW;
    return std::nullopt;
}

QString formatText(Format f)
{
    return f == Format::O ? QStringLiteral("o") : f == Format::PW ? QStringLiteral("pw") : QStringLiteral("w");
}

std::optional<InputFormat> inputFormatFromText(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("ihex"))
        return InputFormat::IntelHex;
    if (t == QLatin1String("srec"))
        return InputFormat::Srec;
    if (t == QLatin1String("bin"))
        return InputFormat::Binary;
    return std::nullopt;
}

QString inputFormatText(InputFormat f)
{
    return f == InputFormat::Srec  ? QStringLiteral("srec")
        : f == InputFormat::Binary ? QStringLiteral("bin")
                                   : QStringLiteral("ihex");
}

// Host names and serial numbers are single words of printing characters.
bool isPlainWord(QStringView s)
{
    return !s.isEmpty() && std::none_of(s.begin(), s.end(), [](QChar c) { return c.isSpace() || !c.isPrint(); });
}

QString slotName(qsizetype index, const QString &label)
{
    return label.isEmpty() ? QStringLiteral("slots[%1]").arg(index) : QStringLiteral("slot \"%1\"").arg(label);
}

std::optional<QString> readSlots(const QJsonObject &o, std::vector<RecipeSlot> &out)
{
    const QJsonValue v = o.value(QLatin1String("slots"));
    if (v.isUndefined())
        return QStringLiteral("missing key \"slots\": a recipe needs at least one slot");
    if (!v.isArray())
        return QStringLiteral("\"slots\" must be an array, not %1").arg(jsonTypeName(v));
    const QJsonArray list = v.toArray();
    if (list.isEmpty())
        return QStringLiteral("\"slots\" is empty: a recipe needs at least one slot");
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString index = QStringLiteral("slots[%1]").arg(i);
        if (!list.at(i).isObject())
            return QStringLiteral("%1 must be an object with \"label\" and \"port\", not %2")
                .arg(index, jsonTypeName(list.at(i)));
        const QJsonObject s = list.at(i).toObject();
        std::optional<QString> label, port;
        if (auto why = readText(s, QLatin1String("label"), true, index + QStringLiteral(": "), label))
            return why;
        const QString where = slotName(i, *label) + QStringLiteral(": ");
        if (auto why = unknownKeys(s, {QLatin1String("label"), QLatin1String("port")}, where))
            return why;
        if (auto why = readText(s, QLatin1String("port"), true, where, port))
            return why;
        RecipeSlot slot{*label, {}};
        if (auto why = parsePort(*port, slot.port))
            return where + *why;
        for (const RecipeSlot &earlier : out) {
            if (earlier.label == slot.label)
                return QStringLiteral("%1 appears twice: labels name one fixture position each")
                    .arg(slotName(i, *label));
            if (samePort(earlier.port, slot.port))
                return QStringLiteral("slots \"%1\" and \"%2\" are both on port %3: one board per port")
                    .arg(earlier.label, slot.label, quotedValue(slot.port.text));
        }
        out.push_back(std::move(slot));
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> parsePort(const QString &text, PortName &out)
{
    const QString t = text.trimmed();
    PortName p;
    p.text = t;
    if (t.startsWith(QLatin1String("usb:"))) {
        p.kind = PortKind::UsbSerial;
        p.usbSerial = t.mid(4);
        if (!isPlainWord(p.usbSerial))
            return QStringLiteral("port %1 names no USB serial number (usb:SERIAL, as morvenctl ports lists them)")
                .arg(quotedValue(t));
    } else if (t.startsWith(QLatin1String("tcp:"))) {
        p.kind = PortKind::Tcp;
        const std::optional<Endpoint> at = parseEndpoint(t.mid(4));
        if (!at || !isPlainWord(at->host))
            return QStringLiteral("port %1 is not tcp:HOST:PORT with a port from 1 to 65535").arg(quotedValue(t));
        p.host = at->host;
        p.port = at->port;
    } else if (t.startsWith(QLatin1Char('/'))) {
        p.kind = PortKind::Device;
        p.device = QDir::cleanPath(t);
        if (p.device == QLatin1String("/"))
            return QStringLiteral("port %1 is a folder, not a device").arg(quotedValue(t));
    } else {
        return QStringLiteral(
            "port %1 is not an absolute device path (best /dev/serial/by-path/...), usb:SERIAL or tcp:HOST:PORT")
            .arg(quotedValue(t));
    }
    out = std::move(p);
    return std::nullopt;
}

bool samePort(const PortName &a, const PortName &b)
{
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case PortKind::Device:
        return a.device == b.device;
    case PortKind::UsbSerial:
        return a.usbSerial == b.usbSerial;
    case PortKind::Tcp:
        return a.port == b.port && a.host.compare(b.host, Qt::CaseInsensitive) == 0;
    }
    return false;
}

std::optional<QString> parseRecipe(const QByteArray &json, const QString &folder, Recipe &out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset);
    if (!doc.isObject())
        return QStringLiteral("not a recipe: the file must hold one JSON object ({...})");
    const QJsonObject o = doc.object();
    if (auto why = unknownKeys(o,
            {QLatin1String("name"), QLatin1String("firmware"), QLatin1String("sha256"), QLatin1String("format"),
                QLatin1String("input_format"), QLatin1String("address"), QLatin1String("baud"),
                QLatin1String("reply_timeout_ms"), QLatin1String("probe_interval_ms"), QLatin1String("leave_probes"),
                QLatin1String("slots"), QLatin1String("unit_serial")},
            QString()))
        return why;

    Recipe r;
    std::optional<QString> name, firmware, sha256, format, inputFormat;
    if (auto why = readText(o, QLatin1String("name"), true, QString(), name))
        return why;
    if (auto why = readText(o, QLatin1String("firmware"), true, QString(), firmware))
        return why;
    if (auto why = readText(o, QLatin1String("sha256"), true, QString(), sha256))
        return why;
    if (sha256->size() != 64 || !std::all_of(sha256->begin(), sha256->end(), [](QChar c) {
            return c.unicode() < 128 && std::isxdigit(c.unicode());
        }))
        return QStringLiteral("\"sha256\" must be the 64 hexadecimal digits of the firmware's SHA-256, not %1")
            .arg(quotedValue(*sha256));
    if (auto why = readText(o, QLatin1String("format"), true, QString(), format))
        return why;
    const std::optional<Format> f = formatFromText(*format);
    if (!f)
        return QStringLiteral("\"format\" must be o, w or pw, not %1").arg(quotedValue(*format));
    if (auto why = readText(o, QLatin1String("input_format"), false, QString(), inputFormat))
        return why;
    if (inputFormat) {
        r.inputFormat = inputFormatFromText(*inputFormat);
        if (!r.inputFormat)
            return QStringLiteral("\"input_format\" must be ihex, srec or bin, not %1").arg(quotedValue(*inputFormat));
    }
    if (auto why = readAddress(o, r.address))
        return why;
    // A load address means the file is raw bytes; said outright, the file is never guessed to be text.
    if (r.address && r.inputFormat != InputFormat::Binary)
        return QStringLiteral("\"address\" is the load address of binary input: it needs \"input_format\": \"bin\"");
    if (auto why = readWhole(o, QLatin1String("baud"), MinBaud, MaxBaud, r.baud))
        return why;
    if (auto why
        = readWhole(o, QLatin1String("reply_timeout_ms"), MinReplyTimeoutMs, MaxReplyTimeoutMs, r.replyTimeoutMs))
        return why;
    if (auto why
        = readWhole(o, QLatin1String("probe_interval_ms"), MinProbeIntervalMs, MaxProbeIntervalMs, r.probeIntervalMs))
        return why;
    if (auto why = readWhole(o, QLatin1String("leave_probes"), MinLeaveProbes, MaxLeaveProbes, r.leaveProbes))
        return why;
    const QJsonValue unitSerial = o.value(QLatin1String("unit_serial"));
    if (!unitSerial.isUndefined() && !unitSerial.isObject())
        return QStringLiteral("\"unit_serial\" must be an object, not %1").arg(jsonTypeName(unitSerial));
    if (unitSerial.isObject()) {
        UnitSerial serial;
        if (auto why = parseUnitSerial(unitSerial.toObject(), *name, serial))
            return why;
        r.serial = std::move(serial);
    }
    if (auto why = readSlots(o, r.slotList))
        return why;

    r.name = *name;
    r.firmware = *firmware;
    // A name starting with ':' is a file in the recipe's folder, not one of Qt's built-in resources.
    const bool absolute = r.firmware.startsWith(QLatin1Char('/'));
    r.firmwarePath = QDir::cleanPath(absolute ? r.firmware : folder + QLatin1Char('/') + r.firmware);
    r.sha256 = sha256->toLower();
    r.format = *f;
    r.unitSerial = unitSerial.toObject();
    out = std::move(r);
    return std::nullopt;
}

std::optional<QString> readRecipe(const QString &path, Recipe &out)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(path);
    if (info.isDir())
        return QStringLiteral("%1: is a folder, not a recipe file").arg(path);
    if (info.size() > kMaxRecipeBytes)
        return QStringLiteral("%1: %2 bytes is far too big for a recipe").arg(path).arg(info.size());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    const QByteArray json = file.read(kMaxRecipeBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
    if (auto why = parseRecipe(json, info.absolutePath(), out))
        return QStringLiteral("%1: %2").arg(path, *why);
    return std::nullopt;
}

QByteArray recipeJson(const Recipe &r)
{
    QJsonObject o;
    o.insert(QLatin1String("name"), r.name);
    o.insert(QLatin1String("firmware"), r.firmware);
    o.insert(QLatin1String("sha256"), r.sha256);
    o.insert(QLatin1String("format"), formatText(r.format));
    if (r.inputFormat)
        o.insert(QLatin1String("input_format"), inputFormatText(*r.inputFormat));
    if (r.address)
        o.insert(QLatin1String("address"),
            QStringLiteral("0x%1").arg(QString::number(*r.address, 16).toUpper().rightJustified(8, QLatin1Char('0'))));
    o.insert(QLatin1String("baud"), r.baud);
    o.insert(QLatin1String("reply_timeout_ms"), r.replyTimeoutMs);
    o.insert(QLatin1String("probe_interval_ms"), r.probeIntervalMs);
    o.insert(QLatin1String("leave_probes"), r.leaveProbes);
    QJsonArray list;
    for (const RecipeSlot &s : r.slotList)
        list.append(QJsonObject{{QLatin1String("label"), s.label}, {QLatin1String("port"), s.port.text}});
    o.insert(QLatin1String("slots"), list);
    if (!r.unitSerial.isEmpty())
        o.insert(QLatin1String("unit_serial"), r.unitSerial);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace morven::station

// A unit's own serial number, written into its copy of the image at a fixed address.
#include "station/unitserial.h"

#include "station/recipevalues.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace morven::station {

namespace {

// JSON numbers are doubles: above this, two numbers a recipe writes may read as one.
constexpr qint64 kMaxExactNumber = (qint64(1) << 53) - 1;

std::optional<QString> readSeries(const QJsonValue &v, const QString &recipeName, QString &out)
{
    if (v.isUndefined()) {
        out = recipeName;
        return std::nullopt;
    }
    if (!v.isString())
        return QStringLiteral("unit_serial.series: must be a string, not %1").arg(jsonTypeName(v));
    const QString s = v.toString();
    if (s.trimmed().isEmpty())
        return QStringLiteral("unit_serial.series: is empty");
    if (!QStringView(s).isValidUtf16()) // it ends up in the unit records' UTF-8
        return QStringLiteral("unit_serial.series: holds a broken character (a lone UTF-16 surrogate)");
    out = s;
    return std::nullopt;
}

std::optional<QString> readForm(const QJsonValue &v, UnitSerial &out)
{
    static const QString expected
        = QStringLiteral("u32le, u32be or ascii:N (N digits, from 1 to %1)").arg(MaxSerialDigits);
    if (v.isUndefined())
        return QStringLiteral("unit_serial.format: missing: how the number is written, %1").arg(expected);
    if (!v.isString())
        return QStringLiteral("unit_serial.format: must be a string, not %1").arg(jsonTypeName(v));
    const QString text = v.toString().toLower();
    if (text == QLatin1String("u32le") || text == QLatin1String("u32be")) {
        out.kind = text.endsWith(QLatin1String("le")) ? UnitSerial::Kind::U32LE : UnitSerial::Kind::U32BE;
        out.digits = 0;
        return std::nullopt;
    }
    const QStringView n = QStringView(text).mid(6);
    if (text.startsWith(QLatin1String("ascii:")) && !n.isEmpty() && n.size() <= 2
        && std::all_of(n.begin(), n.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); })
        && n.toInt() >= 1 && n.toInt() <= MaxSerialDigits) {
        out.kind = UnitSerial::Kind::Ascii;
        out.digits = n.toInt();
        return std::nullopt;
    }
    return QStringLiteral("unit_serial.format: must be %1, not %2").arg(expected, quotedValue(v.toString()));
}

} // namespace

std::optional<QString> parseUnitSerial(const QJsonObject &o, const QString &recipeName, UnitSerial &out)
{
    for (auto it = o.begin(); it != o.end(); ++it)
        if (it.key() != QLatin1String("series") && it.key() != QLatin1String("address")
            && it.key() != QLatin1String("format") && it.key() != QLatin1String("first"))
            return QStringLiteral("unit_serial.%1: unknown key (series, address, format and first are known)")
                .arg(it.key().size() > 64 ? it.key().left(61) + QStringLiteral("...") : it.key());

    UnitSerial s;
    if (auto why = readSeries(o.value(QLatin1String("series")), recipeName, s.series))
        return why;
    const QJsonValue address = o.value(QLatin1String("address"));
    if (address.isUndefined())
        return QStringLiteral(
            "unit_serial.address: missing: where in the image the number goes, such as \"0x0800FC00\"");
    if (auto why = readAddressValue(address, s.address))
        return QStringLiteral("unit_serial.address: ") + *why;
    if (auto why = readForm(o.value(QLatin1String("format")), s))
        return why;
    if (std::uint64_t(s.address) + std::uint64_t(serialSize(s)) > (std::uint64_t(1) << 32))
        return QStringLiteral("unit_serial.address: the %1 bytes of %2 at 0x%3 run past the top of the 4 GiB "
                              "address space")
            .arg(serialSize(s))
            .arg(formatName(s), QString::number(s.address, 16).toUpper().rightJustified(8, QLatin1Char('0')));

    const QJsonValue first = o.value(QLatin1String("first"));
    if (!first.isUndefined()) {
        const qint64 most = std::min(maxNumber(s), kMaxExactNumber);
        if (!first.isDouble())
            return QStringLiteral("unit_serial.first: must be a number, not %1").arg(jsonTypeName(first));
        const double d = first.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || d < 0 || d > double(most))
            return QStringLiteral("unit_serial.first: must be a whole number from 0 to %1 (%2), not %3")
                .arg(most)
                .arg(formatName(s))
                .arg(d, 0, 'g', 17);
        s.first = qint64(d);
    }
    out = std::move(s);
    return std::nullopt;
}

QString formatName(const UnitSerial &s)
{
    switch (s.kind) {
    case UnitSerial::Kind::U32LE:
        return QStringLiteral("u32le");
    case UnitSerial::Kind::U32BE:
        return QStringLiteral("u32be");
    case UnitSerial::Kind::Ascii:
        break;
    }
    return QStringLiteral("ascii:%1").arg(s.digits);
}

qint64 maxNumber(const UnitSerial &s)
{
    if (s.kind != UnitSerial::Kind::Ascii)
        return 0xFFFFFFFF;
    qint64 most = 9;
    for (int i = 1; i < s.digits; ++i) {
        if (most > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::numeric_limits<qint64>::max(); // 19 digits and more hold every number there is
        most = most * 10 + 9;
    }
    return most;
}

int serialSize(const UnitSerial &s)
{
    return s.kind == UnitSerial::Kind::Ascii ? s.digits : 4;
}

std::optional<QString> serialBytes(const UnitSerial &s, qint64 number, std::string &out)
{
    if (number < 0)
        return QStringLiteral("unit_serial: number %1 is below 0").arg(number);
    if (number > maxNumber(s))
        return QStringLiteral("unit_serial: number %1 no longer fits %2 (at most %3)")
            .arg(number)
            .arg(formatName(s))
            .arg(maxNumber(s));
    const auto n = std::uint64_t(number);
    switch (s.kind) {
    case UnitSerial::Kind::U32LE:
        out = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
        break;
    case UnitSerial::Kind::U32BE:
        out = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        break;
    case UnitSerial::Kind::Ascii: {
        const std::string digits = std::to_string(n);
        out = std::string(std::size_t(s.digits) - digits.size(), '0') + digits;
        break;
    }
    }
    return std::nullopt;
}

} // namespace morven::station

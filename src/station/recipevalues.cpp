// How a recipe's values are read and named in its refusals, shared by its settings.
#include "station/recipevalues.h"

#include <cmath>

namespace morven::station {

namespace {

// "0x" and hexadecimal digits, or decimal digits: an address below 4 GiB.
std::optional<std::uint32_t> parseAddress(const QString &text)
{
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QStringView digits = QStringView(text).mid(hex ? 2 : 0);
    if (digits.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : digits) {
        const int d = c.isDigit() && c.unicode() < 128 ? c.unicode() - '0'
            : hex && c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')
            ? c.toLower().unicode() - 'a' + 10
            : -1;
        if (d < 0)
            return std::nullopt;
        value = value * (hex ? 16 : 10) + std::uint64_t(d);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return std::uint32_t(value);
}

} // namespace

QString quotedValue(const QString &s)
{
    return QLatin1Char('"') + (s.size() > 64 ? s.left(61) + QStringLiteral("...") : s) + QLatin1Char('"');
}

QString jsonTypeName(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

std::optional<QString> readAddressValue(const QJsonValue &v, std::uint32_t &out)
{
    std::optional<std::uint32_t> address;
    if (v.isString())
        address = parseAddress(v.toString());
    else if (v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= 0xFFFFFFFF
        && v.toDouble() == std::floor(v.toDouble()))
        address = std::uint32_t(v.toDouble());
    else if (!v.isDouble())
        return QStringLiteral("must be a string, not %1").arg(jsonTypeName(v));
    if (!address)
        return QStringLiteral("must be hexadecimal with 0x, or decimal, below 4 GiB, not %1")
            .arg(v.isString() ? quotedValue(v.toString()) : QString::number(v.toDouble()));
    out = *address;
    return std::nullopt;
}

} // namespace morven::station

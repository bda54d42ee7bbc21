// Helpers for the core tests: byte strings that read well in a failed comparison.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Small helpers shared by the core tests: byte strings that QCOMPARE shows readably.
namespace testutil {

using Bytes = std::vector<std::uint8_t>;

inline QByteArray qb(std::string_view s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string str(const QByteArray &a)
{
    return std::string(a.constData(), static_cast<std::size_t>(a.size()));
}

// Upper-case digit pairs of n bytes, separated by `sep` ('\0': none).
inline QByteArray hex(const std::uint8_t *p, std::size_t n, char sep = ' ')
{
    return QByteArray(reinterpret_cast<const char *>(p), static_cast<qsizetype>(n)).toHex(sep).toUpper();
}

// Bytes from "0A 0B 0C" (blanks optional).
inline Bytes bytes(const QByteArray &hexText)
{
    const QByteArray raw = QByteArray::fromHex(hexText);
    return Bytes(raw.begin(), raw.end());
}

} // namespace testutil

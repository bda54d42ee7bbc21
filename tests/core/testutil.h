#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Small helpers shared by the core tests: readable comparisons of byte strings.
namespace testutil {

inline QByteArray qb(std::string_view s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string str(const QByteArray &a)
{
    return std::string(a.constData(), static_cast<std::size_t>(a.size()));
}

// "0A 0B 0C" for the given bytes, so failures show the bytes.
template <class It> QByteArray spaced(It begin, It end)
{
    QByteArray out;
    for (It it = begin; it != end; ++it) {
        if (!out.isEmpty())
            out += ' ';
        out += QByteArray::number(static_cast<unsigned>(static_cast<std::uint8_t>(*it)), 16)
                   .rightJustified(2, '0')
                   .toUpper();
    }
    return out;
}

// Bytes from "0A 0B 0C" (blanks optional).
inline std::vector<std::uint8_t> bytes(const char *hex)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return std::vector<std::uint8_t>(raw.begin(), raw.end());
}

} // namespace testutil

// Plain C++ byte text, as the protocol and update layers hand it out, for Qt's I/O.
#pragma once

#include <QByteArray>

#include <string_view>

namespace morven {

inline QByteArray bytesOf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace morven

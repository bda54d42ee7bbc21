// How a recipe's values are read and named in its refusals, shared by its settings.
#pragma once

#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <optional>

namespace morven::station {

// A value as a message quotes it, cut short when it is long.
QString quotedValue(const QString &s);

// "a number", "a string", ... for "must be X, not Y".
QString jsonTypeName(const QJsonValue &v);

// An address as a recipe writes it: "0x" and hexadecimal digits, decimal digits, or a JSON
// number, below 4 GiB. Returns why not, as "must be ..." for the caller to put its key before.
[[nodiscard]] std::optional<QString> readAddressValue(const QJsonValue &v, std::uint32_t &out);

} // namespace morven::station

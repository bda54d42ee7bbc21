// A unit's own serial number, written into its copy of the image at a fixed address.
#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace morven::station {

// A recipe's "unit_serial": each unit takes the next number of `series`, starting at `first`,
// written at `address` in the chosen form.
struct UnitSerial
{
    enum class Kind {
        U32LE, // "u32le": four bytes, low byte first
        U32BE, // "u32be": four bytes, high byte first
        Ascii, // "ascii:N": N decimal digits, zeros in front
    };

    QString series; // the recipe's name unless it says otherwise
    std::uint32_t address = 0;
    Kind kind = Kind::U32LE;
    int digits = 0; // Ascii: N, from 1 to MaxSerialDigits
    qint64 first = 1;

    friend bool operator==(const UnitSerial &, const UnitSerial &) = default;
};
inline constexpr int MaxSerialDigits = 20;

// Reads a recipe's "unit_serial" object; `recipeName` is the series when it names none. Every
// refusal starts with the setting it is about ("unit_serial.format: ..."). `out` is only written
// on success.
[[nodiscard]] std::optional<QString> parseUnitSerial(const QJsonObject &o, const QString &recipeName, UnitSerial &out);

// The form as a recipe writes it: "u32le", "u32be", "ascii:8".
QString formatName(const UnitSerial &s);

// The highest number the form holds.
qint64 maxNumber(const UnitSerial &s);

// How many bytes the number takes in the image.
int serialSize(const UnitSerial &s);

// `number` as the bytes written into the image; refuses one below 0 or past maxNumber.
[[nodiscard]] std::optional<QString> serialBytes(const UnitSerial &s, qint64 number, std::string &out);

} // namespace morven::station

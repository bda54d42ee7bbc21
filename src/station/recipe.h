// A station's recipe: the image every board gets and the fixture positions it is flashed on, as
// an engineer fixes them in a JSON file that an operator only opens.
#pragma once

#include "records/conversion.h"
#include "records/inputchecks.h"
#include "station/unitserial.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace morven::station {

// How a slot's port is named: by what stays put when boards come and go.
enum class PortKind {
    Device, // an absolute device path, best a /dev/serial/by-path name (the fixture position)
    UsbSerial, // "usb:SERIAL": the USB adapter with that serial number, wherever it enumerates
    Tcp, // "tcp:HOST:PORT"
};

struct PortName
{
    PortKind kind = PortKind::Device;
    QString text; // as the recipe writes it, blanks around it removed
    QString device; // Device: the cleaned path
    QString usbSerial; // UsbSerial
    QString host; // Tcp
    quint16 port = 0; // Tcp

    friend bool operator==(const PortName &, const PortName &) = default;
};

// Reads a port as a recipe names it: an absolute device path, usb:SERIAL or tcp:HOST:PORT
// ("tcp:[IPV6]:PORT" for an IPv6 address). Returns why it is none of these.
[[nodiscard]] std::optional<QString> parsePort(const QString &text, PortName &out);

// Whether two ports reach the same board: the same device path, the same USB serial number, or
// the same host (letter case aside) and TCP port.
bool samePort(const PortName &a, const PortName &b);

struct RecipeSlot
{
    QString label; // the fixture position the tile shows, "A1"
    PortName port;

    friend bool operator==(const RecipeSlot &, const RecipeSlot &) = default;
};

struct Recipe
{
    QString name;
    QString firmware; // as written: relative to the recipe's folder, or absolute
    QString firmwarePath; // resolved against the recipe's folder
    QString sha256; // 64 lower-case hexadecimal digits
    Format format = Format::W;
    std::optional<InputFormat> inputFormat; // IntelHex, Srec or Binary; guessed from the file when absent
    // Binary input's load address ("input_format": "bin" must say so), written "0x08000000";
    // a decimal string or a JSON number reads too.
    std::optional<std::uint32_t> address;
    qint32 baud = 115200;
    int replyTimeoutMs = 2000;
    int probeIntervalMs = 200; // between link tests while a slot waits for a board
    int leaveProbes = 3; // unanswered link tests in a row that mean the board has left
    std::vector<RecipeSlot> slotList; // "slots" (the name slots is a Qt keyword)
    QJsonObject unitSerial; // "unit_serial" as written, so it is written back the same; empty when absent
    std::optional<UnitSerial> serial; // "unit_serial" read: set when each unit gets a serial number

    friend bool operator==(const Recipe &, const Recipe &) = default;
};

// The limits of a recipe's numbers, which a window's editor offers too.
inline constexpr qint32 MinBaud = 50, MaxBaud = 12000000;
inline constexpr int MinReplyTimeoutMs = 10, MaxReplyTimeoutMs = 600000;
inline constexpr int MinProbeIntervalMs = 10, MaxProbeIntervalMs = 60000;
inline constexpr int MinLeaveProbes = 1, MaxLeaveProbes = 100;

// Reads a recipe's JSON; `folder` is the recipe file's folder, which `firmware` is relative to.
// Every refusal names the key or the slot it is about. `out` is only written on success.
[[nodiscard]] std::optional<QString> parseRecipe(const QByteArray &json, const QString &folder, Recipe &out);

// Reads and parses the recipe file at `path`; refusals start with the file's name.
[[nodiscard]] std::optional<QString> readRecipe(const QString &path, Recipe &out);

// The recipe as a file, every setting written out: parseRecipe reads it back to the same recipe
// (with the same folder).
QByteArray recipeJson(const Recipe &r);

} // namespace morven::station

// The link half of the CommSetting module: the path test FileExists, OpenComm and the port
// number text. The list half (the list loaders and the line writer) is in records/listfiles.h.
#pragma once

#include <QString>

#include <optional>

namespace morven {
class SerialComponent;

// CommSetting, link half. One module split over the two layers whose objects it works on; the
// routines keep the module's name wherever they live. The list half is in records/listfiles.h,
// and the window includes both.
namespace CommSetting {

// True when a file or a folder exists at path; every failure answers false.
bool FileExists(const QString &path);

// Configures the serial port and opens it. Raises port to 1 at least and gives an empty
// settings text the default, in the caller's variables. The first step that fails ends it,
// so a port whose set-up failed stays closed; the result is why it stopped, nothing when the
// port opened.
[[nodiscard]] std::optional<QString> OpenComm(SerialComponent &comm, qint16 &port, QString &settings);

// The port number typed by the operator: the number at the start of the text (sign, digits,
// fraction), rounded half to even; 0 when there is none or it does not fit 16 bits.
qint16 PortNumberFromText(const QString &text);

} // namespace CommSetting
} // namespace morven

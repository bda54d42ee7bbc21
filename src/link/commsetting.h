// The CommSetting routines of the links: the path test, OpenComm and the port number text.
#pragma once

#include <QString>

namespace morven {
class SerialPort;

namespace CommSetting {

// True when a file or a folder exists at path; every failure answers false.
bool FileExists(const QString &path);

// Configures the serial port and opens it. Raises port to 1 at least and gives an empty
// settings text the default, in the caller's variables. The first step that fails ends it,
// so a port whose set-up failed stays closed; the result says whether it got to the end.
bool OpenComm(SerialPort &comm, qint16 &port, QString &settings);

// The port number typed by the operator: the number at the start of the text (sign, digits,
// fraction), rounded half to even; 0 when there is none or it does not fit 16 bits.
qint16 PortNumberFromText(const QString &text);

} // namespace CommSetting
} // namespace morven

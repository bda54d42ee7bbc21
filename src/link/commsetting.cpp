// The link half of the CommSetting module: the path test, OpenComm and the port number text.
#include "link/commsetting.h"

#include "link/serialcomponent.h"

#include <QFileInfo>

#include <cmath>
#include <cstdlib>
#include <string>

namespace morven::CommSetting {

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo::exists(path);
}

std::optional<QString> OpenComm(SerialComponent &comm, qint16 &port, QString &settings)
{
    if (comm.isOpen())
        comm.close();
    if (port < 1)
        port = 1;
    if (settings.isEmpty())
        settings = QStringLiteral("9600,n,8,1");
    if (comm.isOpen())
        return QStringLiteral("the port did not close");
    if (auto why = comm.setSettings(settings))
        return why;
    if (auto why = comm.setPortNumber(port))
        return why;
    comm.setBufferSizes(512, 512, 512);
    comm.clearBuffers();
    return comm.open();
}

qint16 PortNumberFromText(const QString &text)
{
    const QByteArray latin = text.toLatin1();
    const char *p = latin.constData();
    while (*p == ' ' || *p == '\t')
        ++p;
    // Only sign, digits and one decimal point: strtod alone would also take hex, inf and nan.
    std::string number;
    if (*p == '+' || *p == '-')
        number += *p++;
    bool digits = false;
    while (*p >= '0' && *p <= '9') {
        number += *p++;
        digits = true;
    }
    if (*p == '.') {
        number += *p++;
        while (*p >= '0' && *p <= '9') {
            number += *p++;
            digits = true;
        }
    }
    if (!digits)
        return 0;
    // The default rounding mode rounds halves to the even neighbour.
    const double value = std::nearbyint(std::strtod(number.c_str(), nullptr));
    if (!(value >= -32768.0 && value <= 32767.0))
        return 0;
    return static_cast<qint16>(value);
}

} // namespace morven::CommSetting

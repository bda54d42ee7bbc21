// morvenctl ports: the serial ports of this machine, and how to name each of them.
#include "cli/commandline.h"
#include "cli/commands.h"
#include "link/serialports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace morven::cli {

namespace {
QString hex4(std::optional<quint16> id)
{
    return id ? QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')) : QString();
}
} // namespace

int runPorts(const QStringList &args)
{
    CommandLine cl(QStringLiteral("ports"),
        QStringLiteral("Lists the serial ports with their device, description, manufacturer, USB vendor:product, "
                       "serial number (for --serial usb:SERIAL) and the window's PORT NO that opens them."));
    const QCommandLineOption json("json", "Write the list as a JSON array.");
    cl.add(json);
    if (!cl.parse(args))
        return Ok;
    const QList<SerialPortRow> ports = listSerialPorts();
    if (cl.isSet(json)) {
        QJsonArray list;
        for (const SerialPortRow &p : ports) {
            QJsonObject o{{"device", p.device}, {"description", p.description}, {"manufacturer", p.manufacturer},
                {"serial_number", p.serialNumber},
                {"usb_id", p.vendorId && p.productId ? hex4(p.vendorId) + QLatin1Char(':') + hex4(p.productId)
                                                     : QJsonValue(QJsonValue::Null)},
                {"port_no", p.windowPortNumber > 0 ? QJsonValue(p.windowPortNumber) : QJsonValue(QJsonValue::Null)}};
            list.append(o);
        }
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Indented).constData(), stdout);
        return Ok;
    }
    if (ports.isEmpty()) {
        std::fputs("no serial ports found\n", stderr);
        return Ok;
    }
    std::printf("%-16s %-7s %-9s %-20s %-24s %s\n", "DEVICE", "PORT NO", "USB ID", "SERIAL NUMBER", "MANUFACTURER",
        "DESCRIPTION");
    for (const SerialPortRow &p : ports) {
        const QString id = p.vendorId && p.productId ? hex4(p.vendorId) + QLatin1Char(':') + hex4(p.productId)
                                                     : QStringLiteral("-");
        std::printf("%-16s %-7s %-9s %-20s %-24s %s\n", qPrintable(p.device),
            p.windowPortNumber > 0 ? qPrintable(QString::number(p.windowPortNumber)) : "-", qPrintable(id),
            p.serialNumber.isEmpty() ? "-" : qPrintable(p.serialNumber),
            p.manufacturer.isEmpty() ? "-" : qPrintable(p.manufacturer),
            p.description.isEmpty() ? "-" : qPrintable(p.description));
    }
    return Ok;
}

} // namespace morven::cli

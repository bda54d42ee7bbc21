// The serial ports of this machine, how to name them, and why one does not open.
#include "link/serialports.h"

#include "link/qtserialcomponent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morven {

QList<SerialPortRow> listSerialPorts()
{
    QList<SerialPortRow> rows;
    const auto exists = [](const QString &path) { return QFileInfo::exists(path); };
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortRow row;
        row.device = info.systemLocation();
        row.description = info.description();
        row.manufacturer = info.manufacturer();
        row.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            row.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            row.productId = info.productIdentifier();
        row.windowPortNumber = windowPortNumber(row.device, exists);
        rows.append(row);
    }
    // ttyS2 before ttyS10: by the name without its number, then by the number.
    static const QRegularExpression digits(QStringLiteral("\\d+$"));
    const auto key = [](const QString &device) {
        const QRegularExpressionMatch m = digits.match(device);
        return std::make_pair(device.left(m.hasMatch() ? m.capturedStart() : device.size()),
            m.hasMatch() ? m.captured().toLongLong() : -1);
    };
    std::sort(rows.begin(), rows.end(),
        [&](const SerialPortRow &a, const SerialPortRow &b) { return key(a.device) < key(b.device); });
    return rows;
}

int windowPortNumber(const QString &device, const std::function<bool(const QString &)> &exists)
{
    static const QRegularExpression tail(QStringLiteral("^/dev/tty(USB|ACM|S)(\\d{1,5})$"));
    const QRegularExpressionMatch m = tail.match(device);
    if (!m.hasMatch())
        return 0;
    const int number = m.captured(2).toInt() + 1;
    if (number > 32767)
        return 0;
    return serialDeviceFor(number, exists) == device ? number : 0;
}

std::optional<QString> resolveSerialDevice(const QString &wanted, const QList<SerialPortRow> &ports, QString &device)
{
    if (!wanted.startsWith(QLatin1String("usb:"))) {
        device = wanted;
        return std::nullopt;
    }
    const QString serial = wanted.mid(4);
    for (const SerialPortRow &row : ports) {
        if (!serial.isEmpty() && row.serialNumber == serial) {
            device = row.device;
            return std::nullopt;
        }
    }
    return QStringLiteral("no serial port has the USB serial number '%1' (morvenctl ports lists them)").arg(serial);
}

namespace {

// The process named in a lock file of the kind serial programs leave in /var/lock (a PID on
// the first line), when that process still runs.
QString lockHolder(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *dir : {"/var/lock", "/run/lock", "/var/lock/lockdev", "/var/spool/locks", "/var/spool/uucp",
             "/etc/locks", "/tmp", "/var/tmp"}) {
        QFile lock(QLatin1String(dir) + QLatin1String("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = QString::fromLatin1(lock.readLine()).trimmed().toLongLong(&ok);
        if (!ok || pid <= 0 || pid == getpid())
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
            continue; // a stale lock of a process that is gone
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString program
            = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
        return program.isEmpty() ? QStringLiteral("process %1").arg(pid)
                                 : QStringLiteral("process %1 (%2)").arg(pid).arg(program);
    }
    return QString();
}

QString accessAdvice(const QString &device)
{
    struct stat st{};
    QString group = QStringLiteral("dialout");
    if (::stat(QFile::encodeName(device).constData(), &st) == 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP))
        if (const struct group *g = ::getgrgid(st.st_gid))
            group = QString::fromLocal8Bit(g->gr_name);
    return QStringLiteral("permission denied: the group '%1' grants access to %2; add yourself to it "
                          "(sudo usermod -aG %1 $USER, then log in again), see \"Serial port access\" in the README")
        .arg(group, device);
}

} // namespace

QString explainSerialOpenFailure(const QString &device, QSerialPort::SerialPortError error, const QString &text)
{
    if (error == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(device))
        return QStringLiteral("no such device (morvenctl ports lists the serial ports)");
    if (error == QSerialPort::PermissionError) {
        const QString holder = lockHolder(device);
        if (!holder.isEmpty())
            return QStringLiteral("the port is busy: %1 holds it").arg(holder);
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return accessAdvice(device);
        if (text.contains(QLatin1String("lock")))
            return QStringLiteral("the port is busy: another program holds it");
    }
    if (text.contains(QLatin1String("busy"), Qt::CaseInsensitive))
        return QStringLiteral("the port is busy: another program holds it (%1)").arg(text);
    return text;
}

} // namespace morven

// The frame log of a target's run (morvenctl --trace, --log).
#include "station/trace.h"


#include <QDateTime>

#include <cstdio>

namespace morven::station {

std::optional<QString> Trace::open(bool toStderr, const QString &logPath)
{
    toStderr_ = toStderr;
    if (logPath.isEmpty())
        return std::nullopt;
    file_ = std::make_unique<QFile>(logPath);
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        const QString why = QStringLiteral("%1: %2").arg(logPath, file_->errorString());
        file_.reset();
        return why;
    }
    return std::nullopt;
}

void Trace::write(const QString &target, QLatin1String direction, const QByteArray &bytes)
{
    if (!enabled())
        return;
    QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    line += ' ';
    line += target.toUtf8();
    line += ' ';
    line += QByteArray(direction.data(), direction.size());
    // Frames are ASCII; anything else on the line is shown as \xNN so the log stays one line each.
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F)
            line += c;
        else
            line += "\\x" + QByteArray::number(b, 16).rightJustified(2, '0');
    }
    line += '\n';
    if (toStderr_) {
        std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
        std::fflush(stderr);
    }
    if (file_)
        file_->write(line);
}

} // namespace morven::station

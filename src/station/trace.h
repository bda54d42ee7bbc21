// The frame log of a target's run (morvenctl --trace, --log).
#pragma once

#include <QFile>
#include <QString>

#include <memory>
#include <optional>

namespace morven::station {

// The frame log for field service: every frame sent and received, with the time to the
// millisecond and the target it concerns, on stderr and/or in a file.
class Trace
{
public:
    // Opens `logPath` (appending) when it is not empty; the reason when it cannot.
    [[nodiscard]] std::optional<QString> open(bool toStderr, const QString &logPath);
    bool enabled() const { return toStderr_ || file_ != nullptr; }

    void sent(const QString &target, const QByteArray &frame) { write(target, QLatin1String("> "), frame); }
    void received(const QString &target, const QByteArray &frame) { write(target, QLatin1String("< "), frame); }
    void note(const QString &target, const QString &text) { write(target, QLatin1String("  "), text.toUtf8()); }

private:
    void write(const QString &target, QLatin1String direction, const QByteArray &bytes);

    bool toStderr_ = false;
    std::unique_ptr<QFile> file_;
};

} // namespace morven::station

// A window serial port component that records what it is asked and fails on cue.
#pragma once

#include "link/serialcomponent.h"

#include <QStringList>

namespace morven::test {

// A serial port that only writes down what it is asked, and fails where it is told to.
class RecordingSerialComponent final : public SerialComponent
{
public:
    std::optional<QString> setPortNumber(int number) override
    {
        calls << QStringLiteral("port %1").arg(number);
        return open_ || number < 1 ? std::optional<QString>(QStringLiteral("port number refused")) : std::nullopt;
    }
    std::optional<QString> setSettings(const QString &settings) override
    {
        calls << QStringLiteral("settings %1").arg(settings);
        return settings == rejectSettings ? std::optional<QString>(QStringLiteral("settings refused")) : std::nullopt;
    }
    void setBufferSizes(int readLimit, int in, int out) override
    {
        calls << QStringLiteral("buffers %1 %2 %3").arg(readLimit).arg(in).arg(out);
    }
    void clearBuffers() override { calls << QStringLiteral("clear"); }
    std::optional<QString> open() override
    {
        calls << QStringLiteral("open");
        open_ = true;
        return std::nullopt;
    }
    void close() override
    {
        calls << QStringLiteral("close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    std::optional<QString> write(const QByteArray &bytes) override
    {
        if (!open_)
            return QStringLiteral("closed");
        written += bytes;
        return std::nullopt;
    }
    int lastEvent() const override { return event; }
    int bytesWaiting() const override { return static_cast<int>(incoming.size()); }
    QByteArray read() override
    {
        const QByteArray out = incoming.left(512);
        incoming.remove(0, out.size());
        return out;
    }

    QStringList calls;
    QString rejectSettings;
    QByteArray written;
    QByteArray incoming;
    int event = NoEvent;

private:
    bool open_ = false;
};

} // namespace morven::test

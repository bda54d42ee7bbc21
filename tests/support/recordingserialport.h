// A serial port that records what it is asked and fails on cue.
#pragma once

#include "link/serialport.h"

#include <QStringList>

namespace morven::test {

// A serial port that only writes down what it is asked, and fails where it is told to.
class RecordingSerialPort final : public SerialPort
{
public:
    bool setPortNumber(int number) override
    {
        calls << QStringLiteral("port %1").arg(number);
        return !open_ && number >= 1;
    }
    bool setSettings(const QString &settings) override
    {
        calls << QStringLiteral("settings %1").arg(settings);
        return settings != rejectSettings;
    }
    void setBufferSizes(int readLimit, int in, int out) override
    {
        calls << QStringLiteral("buffers %1 %2 %3").arg(readLimit).arg(in).arg(out);
    }
    void clearBuffers() override { calls << QStringLiteral("clear"); }
    bool open() override
    {
        calls << QStringLiteral("open");
        open_ = openSucceeds;
        return open_;
    }
    void close() override
    {
        calls << QStringLiteral("close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    bool write(const QByteArray &bytes) override
    {
        if (!open_)
            return false;
        written += bytes;
        return true;
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
    bool openSucceeds = true;
    QByteArray written;
    QByteArray incoming;
    int event = NoEvent;

private:
    bool open_ = false;
};

} // namespace morven::test

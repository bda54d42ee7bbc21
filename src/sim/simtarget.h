// The simulated target on a TCP port and a pseudo-terminal.
#pragma once

#include "sim/bootloader.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace morven::sim {

// How the simulated target's line behaves, apart from what the bootloader answers.
struct TransportOptions
{
    // Time from the end of a frame to the start of its reply.
    int replyDelayMs = 0;
    // Each reply goes out as two writes, the second splitGapMs after the first is through.
    bool splitReplies = false;
    int splitGapMs = 5;
    // Bytes per second are baud / 10 in both directions: a frame counts as received only when
    // its last byte would have arrived at that rate, and replies leave at that rate. A frame
    // without ';' then ends after the idle time plus one byte time, so a slow line does not cut
    // a record between two of its bytes. 0: no pacing.
    int baud = 0;
};

// The bootloader on a TCP port (one client at a time; a newer connection replaces the older)
// and/or a pseudo-terminal whose slave side the PC opens as its serial device. Each line cuts
// its own frames; both feed the one bootloader, and a reply goes back on the line its frame
// came from.
//
// Dropping the line: a TCP client is disconnected. A serial line cannot be unplugged without
// the device going away, so on the pseudo-terminal the dropping frame is simply lost: no
// reply, and whatever was queued on that line in either direction is discarded. Later frames
// are answered as usual.
class SimTarget : public QObject
{
    Q_OBJECT

public:
    explicit SimTarget(const Options &options = {}, const TransportOptions &transport = {}, QObject *parent = nullptr);
    ~SimTarget() override;

    Bootloader &bootloader() { return bootloader_; }
    const Bootloader &bootloader() const { return bootloader_; }
    const TransportOptions &transportOptions() const { return transport_; }
    // Applies to data arriving and replies made from now on.
    void setTransportOptions(const TransportOptions &transport);

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    bool isListening() const;
    QHostAddress address() const;
    quint16 port() const;
    // Closes the server and its client.
    void stopListening();
    bool hasClient() const;

    bool openPty();
    // The slave device, e.g. "/dev/pts/7"; empty while no pseudo-terminal is open.
    QString ptyPath() const { return ptyPath_; }
    void closePty();

    QString errorString() const { return error_; }

signals:
    void frameReceived(const QByteArray &frame);
    // A whole reply has been written.
    void replySent(const QByteArray &reply);
    void clientConnected();
    // The TCP client went away by itself or was replaced by a newer one.
    void clientDisconnected();
    // The target dropped the line (see Options::dropAtLine).
    void clientDropped();
    void downloadCompleted();
    void logMessage(const QString &text);

private:
    class Line;
    class TcpLine;
    class PtyLine;

    void onNewConnection();
    void handleFrames(Line &line, std::vector<std::string> &frames);
    void dropLine(Line &line);

    Bootloader bootloader_;
    TransportOptions transport_;
    QTcpServer *server_ = nullptr;
    // Children of this object; a line taken down is deleted later, as it may be mid-call.
    TcpLine *tcp_ = nullptr;
    PtyLine *pty_ = nullptr;
    QString ptyPath_;
    QString error_;
};

} // namespace morven::sim

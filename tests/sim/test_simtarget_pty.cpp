// The simulated target on a pseudo-terminal: the PC opens the slave side as its serial port.
#include "sim/peers.h"
#include "sim/simtarget.h"

#include <QFile>
#include <QSerialPort>
#include <QtTest>

#include <termios.h>

using namespace morven::sim;
using simtest::kWaitMs;
using simtest::PtyPeer;
using simtest::TcpPeer;

namespace {

const QByteArray kU(":U0000010001B4;");
const QByteArray kAck0(":W00000101C074;");

Options waitingForFrameEnds()
{
    Options o;
    o.idle = std::chrono::milliseconds(60000); // a partial frame waits for its end
    return o;
}

} // namespace

class TestSimTargetPty : public QObject
{
    Q_OBJECT

private slots:
    void downloadOverARawLine()
    {
        SimTarget target;
        QVERIFY2(target.openPty(), qPrintable(target.errorString()));
        QVERIFY(target.ptyPath().startsWith(QLatin1String("/dev/")));
        QSignalSpy completed(&target, &SimTarget::downloadCompleted);
        {
            // A serial port opens it, and the line stays usable after the PC closes it.
            QSerialPort port(target.ptyPath());
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            QVERIFY(port.setBaudRate(9600));
            port.write(":U;");
            QByteArray got;
            QDeadlineTimer deadline(kWaitMs);
            while (got.size() < 15 && !deadline.hasExpired()) {
                QSignalSpy more(&port, &QSerialPort::readyRead);
                if (port.bytesAvailable() == 0)
                    more.wait(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
                got += port.readAll();
            }
            QCOMPARE(got, kU);
        }
        PtyPeer pc(target.ptyPath());
        QVERIFY(pc.isOpen());
        termios t{};
        QCOMPARE(tcgetattr(pc.fd, &t), 0);
        QVERIFY(!(t.c_lflag & ICANON)); // bytes come as they are, not held back for a newline
        QVERIFY(!(t.c_lflag & ECHO)); // our replies must not come back to us as frames
        QVERIFY(!(t.c_iflag & ICRNL));

        QCOMPARE(pc.ask(":W00000200020401;"), kAck0);
        const QByteArray record(":10000000000102030405060708090A0B0C0D0E0F78\r");
        QCOMPARE(pc.ask(record), QByteArray(":W0001010191B4;"));
        QCOMPARE(pc.ask(":W00020155CDEF;"), QByteArray(":W0002010161B4;"));
        QCOMPARE(completed.size(), 1);
        // Exactly what was sent, once: no echo, no line discipline in between.
        QCOMPARE(target.bootloader().frames(),
            (std::vector<std::string>{":U;", ":W00000200020401;", record.toStdString(), ":W00020155CDEF;"}));
        QCOMPARE(pc.take(1, 100), QByteArray());

        const QString path = target.ptyPath();
        target.closePty();
        QVERIFY(target.ptyPath().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), kWaitMs); // the device goes away
    }

    void dropOnThePtyLosesThatFrameOnly()
    {
        Options o = waitingForFrameEnds();
        o.dropAtLine = 0;
        SimTarget target(o);
        QVERIFY(target.openPty());
        QSignalSpy dropped(&target, &SimTarget::clientDropped);
        PtyPeer pc(target.ptyPath());
        QCOMPARE(pc.ask(":W00000200014400;"), kAck0);
        // What came after the dropping frame is lost with it, the open ":U" as well.
        QVERIFY(pc.send(":W00010155CDEF;:U;:U"));
        QTRY_COMPARE_WITH_TIMEOUT(dropped.size(), 1, kWaitMs);
        // The next thing on the line is the answer to the next frame, not to the dropped ones.
        QCOMPARE(pc.ask(";:U;"), kU);
        QCOMPARE(pc.take(1, 100), QByteArray());
        QCOMPARE(target.bootloader().linkTests(), 1);
        QVERIFY(target.bootloader().acceptedLines().empty());
    }

    void repliesGoBackOnTheLineTheFrameCameFrom()
    {
        SimTarget target(waitingForFrameEnds());
        QVERIFY(target.listen());
        QVERIFY(target.openPty());
        TcpPeer net;
        QVERIFY(net.connectTo(target.port()));
        PtyPeer serial(target.ptyPath());

        QCOMPARE(net.ask(":U;:U"), kU); // the second frame is left open on the TCP line
        QCOMPARE(serial.ask(";:U;"), kU); // this ';' belongs to no frame of the serial line
        QCOMPARE(net.ask(";"), kU);
        QCOMPARE(serial.take(1, 100), QByteArray());
        QCOMPARE(target.bootloader().linkTests(), 3);
    }
};

QTEST_GUILESS_MAIN(TestSimTargetPty)
#include "test_simtarget_pty.moc"

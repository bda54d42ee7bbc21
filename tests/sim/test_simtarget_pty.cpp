// The simulated target on a pseudo-terminal: the PC opens the slave side as its serial port.
#include "peers.h"
#include "simtarget.h"

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
const QByteArray kAck1(":W0001010191B4;");
const QByteArray kAnnounce1(":W00000200014400;");

} // namespace

class TestSimTargetPty : public QObject
{
    Q_OBJECT

private slots:
    void slaveIsARawTerminal()
    {
        SimTarget target;
        QVERIFY2(target.openPty(), qPrintable(target.errorString()));
        QVERIFY(target.ptyPath().startsWith(QLatin1String("/dev/")));
        PtyPeer pc(target.ptyPath());
        QVERIFY(pc.isOpen());
        termios t{};
        QCOMPARE(tcgetattr(pc.fd, &t), 0);
        QVERIFY(!(t.c_lflag & ICANON)); // bytes come as they are, not held back for a newline
        QVERIFY(!(t.c_lflag & ECHO)); // our replies must not come back to us as frames
        QVERIFY(!(t.c_iflag & ICRNL));
    }

    void downloadOverThePty()
    {
        SimTarget target;
        QVERIFY(target.openPty());
        QSignalSpy completed(&target, &SimTarget::downloadCompleted);
        PtyPeer pc(target.ptyPath());
        QVERIFY(pc.isOpen());

        QVERIFY(pc.send(":U;"));
        QCOMPARE(pc.take(15), kU);
        QVERIFY(pc.send(":W00000200020401;"));
        QCOMPARE(pc.take(15), kAck0);
        const QByteArray record(":10000000000102030405060708090A0B0C0D0E0F78\r");
        QVERIFY(pc.send(record));
        QCOMPARE(pc.take(15), kAck1);
        QVERIFY(pc.send(":W00020155CDEF;"));
        QCOMPARE(pc.take(15), QByteArray(":W0002010161B4;"));
        QCOMPARE(completed.size(), 1);

        // Exactly what was sent, once: no echo, no line discipline in between.
        QCOMPARE(target.bootloader().frames(),
            (std::vector<std::string>{":U;", ":W00000200020401;", record.toStdString(), ":W00020155CDEF;"}));
        QCOMPARE(pc.take(1, 100), QByteArray());
    }

    void dropOnThePtyLosesThatFrameOnly()
    {
        Options o;
        o.dropAtLine = 0;
        o.idle = std::chrono::milliseconds(60000); // a partial frame waits for its end
        SimTarget target(o);
        QVERIFY(target.openPty());
        QSignalSpy dropped(&target, &SimTarget::clientDropped);
        PtyPeer pc(target.ptyPath());
        QVERIFY(pc.send(kAnnounce1));
        QCOMPARE(pc.take(15), kAck0);
        // What came after the dropping frame is lost with it, the open ":U" as well.
        QVERIFY(pc.send(":W00010155CDEF;:U;:U"));
        QTRY_COMPARE_WITH_TIMEOUT(dropped.size(), 1, kWaitMs);
        // The next thing on the line is the answer to the next frame, not to the dropped ones.
        QVERIFY(pc.send(";:U;"));
        QCOMPARE(pc.take(15), kU);
        QCOMPARE(pc.take(1, 100), QByteArray());
        QCOMPARE(target.bootloader().linkTests(), 1);
        QVERIFY(target.bootloader().acceptedLines().empty());
    }

    void lineStaysUsableAcrossReopening()
    {
        SimTarget target;
        QVERIFY(target.openPty());
        {
            PtyPeer first(target.ptyPath());
            QVERIFY(first.send(":U;"));
            QCOMPARE(first.take(15), kU);
        }
        PtyPeer second(target.ptyPath());
        QVERIFY(second.isOpen());
        QVERIFY(second.send(":U;"));
        QCOMPARE(second.take(15), kU);
    }

    void serialPortOpensIt()
    {
        SimTarget target;
        QVERIFY(target.openPty());
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

    void repliesGoBackOnTheLineTheFrameCameFrom()
    {
        Options o;
        o.idle = std::chrono::milliseconds(60000);
        SimTarget target(o);
        QVERIFY(target.listen());
        QVERIFY(target.openPty());
        TcpPeer net;
        QVERIFY(net.connectTo(target.port()));
        PtyPeer serial(target.ptyPath());

        net.send(":U;:U"); // the second frame is left open on the TCP line
        QCOMPARE(net.take(15), kU);
        QVERIFY(serial.send(";:U;")); // this ';' belongs to no frame of the serial line
        QCOMPARE(serial.take(15), kU);
        net.send(";");
        QCOMPARE(net.take(15), kU);
        QCOMPARE(serial.take(1, 100), QByteArray());
        QCOMPARE(target.bootloader().linkTests(), 3);
    }

    void closePtyRemovesTheDevice()
    {
        SimTarget target;
        QVERIFY(target.openPty());
        const QString path = target.ptyPath();
        QVERIFY(QFile::exists(path));
        target.closePty();
        QVERIFY(target.ptyPath().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), kWaitMs);
    }
};

QTEST_GUILESS_MAIN(TestSimTargetPty)
#include "test_simtarget_pty.moc"

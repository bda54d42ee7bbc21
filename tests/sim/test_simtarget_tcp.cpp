// The simulated target on a loopback TCP port: what a PC connected to it sees.
#include "sim/peers.h"
#include "sim/simtarget.h"

#include <QtTest>

using namespace morven::sim;
using simtest::kWaitMs;
using simtest::TcpPeer;

namespace {

const QByteArray kU(":U0000010001B4;");
const QByteArray kAnnounce2(":W00000200020401;");
const QByteArray kAck0(":W00000101C074;");
const QByteArray kAck1(":W0001010191B4;");
const QByteArray kAck2(":W0002010161B4;");
const QByteArray kLine1(":W000110000102030405060708090A0B0C0D0E0F10A1B2;");
const QByteArray kLine2(":W00020155CDEF;");

bool open(SimTarget &target, TcpPeer &pc)
{
    return target.listen() && pc.connectTo(target.port());
}

std::vector<std::string> lines(std::initializer_list<QByteArray> list)
{
    std::vector<std::string> out;
    for (const QByteArray &l : list)
        out.push_back(l.toStdString());
    return out;
}

} // namespace

class TestSimTargetTcp : public QObject
{
    Q_OBJECT

private slots:
    void wholeUpdateOverTcp()
    {
        SimTarget target;
        QVERIFY(target.listen());
        QCOMPARE(target.address(), QHostAddress(QHostAddress::LocalHost)); // loopback unless told otherwise
        QSignalSpy connected(&target, &SimTarget::clientConnected);
        QSignalSpy frames(&target, &SimTarget::frameReceived);
        QSignalSpy sent(&target, &SimTarget::replySent);
        QSignalSpy completed(&target, &SimTarget::downloadCompleted);
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, kWaitMs);
        QVERIFY(target.hasClient());

        QCOMPARE(pc.ask(":U;"), kU);
        QCOMPARE(pc.ask(":K000001028075;"), QByteArray(":K0000010341B5;"));
        QCOMPARE(pc.ask(":W0000020003C5C1;"), kAck0);
        QCOMPARE(pc.ask(kLine1), kAck1);
        // An Intel HEX record has no ';': the quiet line ends it.
        const QByteArray record(":10000000000102030405060708090A0B0C0D0E0F78");
        QCOMPARE(pc.ask(record), kAck2);
        QCOMPARE(pc.ask(kLine2), QByteArray(":W000301013074;"));

        QCOMPARE(target.bootloader().acceptedLines(), lines({kLine1, record, kLine2}));
        QCOMPARE(frames.size(), 6);
        QCOMPARE(frames.at(4).at(0).toByteArray(), record);
        QCOMPARE(sent.size(), 6);
        QCOMPARE(sent.at(0).at(0).toByteArray(), kU);
        QCOMPARE(completed.size(), 1);
    }

    // A reply waits for the delay; a split one comes as two writes the gap apart.
    void repliesWaitForTheDelayAndSplit()
    {
        TransportOptions t;
        t.replyDelayMs = 200;
        t.splitReplies = true;
        t.splitGapMs = 300; // wide enough for the reader to see the first half on its own
        SimTarget target({}, t);
        QSignalSpy sent(&target, &SimTarget::replySent);
        TcpPeer pc;
        QVERIFY(open(target, pc));
        const qint64 start = pc.clock.elapsed();
        QCOMPARE(pc.ask(":U;"), kU);
        QCOMPARE(pc.pieces.size(), std::size_t(2));
        QCOMPARE(pc.pieces[0].bytes, kU.left(7));
        QVERIFY2(pc.pieces[0].atMs - start >= 195, qPrintable(QString::number(pc.pieces[0].atMs - start)));
        QVERIFY(pc.pieces[1].atMs - pc.pieces[0].atMs >= 250);
        QCOMPARE(sent.size(), 1); // one reply, however many writes
    }

    void dropAtLineClosesTheConnection()
    {
        Options o;
        o.dropAtLine = 1;
        SimTarget target(o);
        QSignalSpy dropped(&target, &SimTarget::clientDropped);
        QSignalSpy disconnected(&target, &SimTarget::clientDisconnected);
        TcpPeer pc;
        QVERIFY(open(target, pc));
        QCOMPARE(pc.ask(kAnnounce2), kAck0);
        QCOMPARE(pc.ask(kLine1), kAck1);

        QSignalSpy closed(&pc.socket, &QTcpSocket::disconnected);
        pc.send(kLine2);
        QVERIFY(closed.wait(kWaitMs));
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(disconnected.size(), 0); // the target hung up; nobody went away by themselves
        QVERIFY(pc.received.isEmpty());
        QVERIFY(!target.hasClient());

        // The port still takes the next connection, and the line is not dropped again.
        TcpPeer again;
        QVERIFY(again.connectTo(target.port()));
        QCOMPARE(again.ask(":U;"), kU);
        QCOMPARE(again.ask(kLine2), kAck2);
        QCOMPARE(target.bootloader().acceptedLines(), lines({kLine1, kLine2}));
    }

    void clientsComeAndGoUntilTheTargetStops()
    {
        Options o;
        o.idle = std::chrono::milliseconds(60000); // a partial frame waits for its end
        SimTarget target(o);
        QVERIFY(target.listen());
        QSignalSpy connected(&target, &SimTarget::clientConnected);
        QSignalSpy disconnected(&target, &SimTarget::clientDisconnected);

        TcpPeer older;
        QVERIFY(older.connectTo(target.port()));
        QCOMPARE(older.ask(":U;:U"), kU); // the second frame is left open

        QSignalSpy olderClosed(&older.socket, &QTcpSocket::disconnected);
        TcpPeer newer;
        QVERIFY(newer.connectTo(target.port()));
        QVERIFY(olderClosed.wait(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, kWaitMs);
        QCOMPARE(disconnected.size(), 1);

        // The older client's open frame does not run on into the newer one's bytes.
        QCOMPARE(newer.ask(";:U;"), kU);
        QCOMPARE(target.bootloader().frames(), lines({":U;", ":U;"}));

        // A client going away by itself is noticed too, and the port takes the next one.
        newer.socket.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 2, kWaitMs);
        QVERIFY(!target.hasClient());
        const quint16 port = target.port();
        TcpPeer next;
        QVERIFY(next.connectTo(port));
        QCOMPARE(next.ask(":U;"), kU);

        // Stopping closes the client and the port.
        QSignalSpy closed(&next.socket, &QTcpSocket::disconnected);
        QVERIFY(target.isListening());
        target.stopListening();
        QVERIFY(closed.wait(kWaitMs));
        QVERIFY(!target.isListening());
        QCOMPARE(target.port(), quint16(0));
        QTcpSocket late;
        QSignalSpy failed(&late, &QTcpSocket::errorOccurred);
        late.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, kWaitMs);
        QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
    }

    void pacingAtABaudRate()
    {
        TransportOptions t;
        t.baud = 1200; // 8.33 ms a byte
        SimTarget target({}, t);
        QVERIFY(target.listen());
        QElapsedTimer clock;
        qint64 frameAt = -1;
        connect(&target, &SimTarget::frameReceived, this, [&] { frameAt = clock.elapsed(); });
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));

        clock.start();
        QCOMPARE(pc.ask(kAnnounce2), kAck0); // 17 bytes: 142 ms on the line, then 15 bytes: 125 ms more
        const qint64 replyAt = clock.elapsed();
        QVERIFY2(frameAt >= 135, qPrintable(QString::number(frameAt)));
        QVERIFY2(replyAt >= 260, qPrintable(QString::number(replyAt)));
        QVERIFY2(replyAt - frameAt >= 115, qPrintable(QString::number(replyAt - frameAt)));
        QVERIFY(pc.pieces.size() >= 2); // byte by byte, not in one lump at the end

        // At 300 baud a byte takes 33 ms, longer than the 20 ms quiet time that ends a record:
        // the quiet time counts from the end of a byte time.
        t.baud = 300;
        target.setTransportOptions(t);
        pc.send(":10000000");
        QCOMPARE(pc.take(15, 5000), kAck1);
        QCOMPARE(target.bootloader().acceptedLines(), std::vector<std::string>{":10000000"});
    }
};

QTEST_GUILESS_MAIN(TestSimTargetTcp)
#include "test_simtarget_tcp.moc"

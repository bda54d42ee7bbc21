// The simulated target on a loopback TCP port: what a PC connected to it sees.
#include "peers.h"
#include "simtarget.h"

#include <QtTest>

using namespace morven::sim;
using simtest::kWaitMs;
using simtest::TcpPeer;

namespace {

const QByteArray kU(":U0000010001B4;");
const QByteArray kKSuccess(":K0000010341B5;");
const QByteArray kAnnounce2(":W00000200020401;");
const QByteArray kAnnounce3(":W0000020003C5C1;");
const QByteArray kAck0(":W00000101C074;");
const QByteArray kAck1(":W0001010191B4;");
const QByteArray kAck2(":W0002010161B4;");
const QByteArray kLine1(":W000110000102030405060708090A0B0C0D0E0F10A1B2;");
const QByteArray kLine2(":W00020155CDEF;");

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
    void listensOnLoopbackByDefault()
    {
        SimTarget target;
        QVERIFY(target.listen());
        QCOMPARE(target.address(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(target.port() != 0);
        QVERIFY(target.isListening());
    }

    void portInUseIsReported()
    {
        SimTarget first;
        QVERIFY(first.listen());
        SimTarget second;
        QVERIFY(!second.listen(QHostAddress(QHostAddress::LocalHost), first.port()));
        QVERIFY(!second.errorString().isEmpty());
        QVERIFY(!second.isListening());
    }

    void wholeUpdateOverTcp()
    {
        SimTarget target;
        QVERIFY(target.listen());
        QSignalSpy connected(&target, &SimTarget::clientConnected);
        QSignalSpy frames(&target, &SimTarget::frameReceived);
        QSignalSpy sent(&target, &SimTarget::replySent);
        QSignalSpy completed(&target, &SimTarget::downloadCompleted);
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, kWaitMs);
        QVERIFY(target.hasClient());

        pc.send(":U;");
        QCOMPARE(pc.take(15), kU);
        pc.send(":K000001028075;");
        QCOMPARE(pc.take(15), kKSuccess);
        pc.send(kAnnounce3);
        QCOMPARE(pc.take(15), kAck0);
        pc.send(kLine1);
        QCOMPARE(pc.take(15), kAck1);
        // An Intel HEX record has no ';': the quiet line ends it.
        const QByteArray record(":10000000000102030405060708090A0B0C0D0E0F78");
        pc.send(record);
        QCOMPARE(pc.take(15), kAck2);
        pc.send(kLine2);
        QCOMPARE(pc.take(15), QByteArray(":W000301013074;"));

        QCOMPARE(target.bootloader().acceptedLines(), lines({kLine1, record, kLine2}));
        QCOMPARE(target.bootloader().eraseSelectors(), std::vector<int>{2});
        QCOMPARE(frames.size(), 6);
        QCOMPARE(frames.at(4).at(0).toByteArray(), record);
        QCOMPARE(sent.size(), 6);
        QCOMPARE(sent.at(0).at(0).toByteArray(), kU);
        QCOMPARE(completed.size(), 1);
    }

    void repliesWaitForTheDelay()
    {
        TransportOptions t;
        t.replyDelayMs = 200;
        SimTarget target({}, t);
        QVERIFY(target.listen());
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));
        QElapsedTimer clock;
        clock.start();
        pc.send(":U;");
        QCOMPARE(pc.take(15), kU);
        QVERIFY2(clock.elapsed() >= 195, qPrintable(QString::number(clock.elapsed())));
    }

    void splitRepliesArriveInTwoPieces()
    {
        TransportOptions t;
        t.splitReplies = true;
        t.splitGapMs = 300; // wide enough for the reader to see the first half on its own
        SimTarget target({}, t);
        QVERIFY(target.listen());
        QSignalSpy sent(&target, &SimTarget::replySent);
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));
        pc.send(":U;");
        QCOMPARE(pc.take(15), kU);
        QCOMPARE(pc.pieces.size(), std::size_t(2));
        QCOMPARE(pc.pieces[0].bytes, kU.left(7));
        QCOMPARE(pc.pieces[1].bytes, kU.mid(7));
        QVERIFY(pc.pieces[1].atMs - pc.pieces[0].atMs >= 250);
        QCOMPARE(sent.size(), 1); // one reply, however many writes
    }

    void dropAtLineClosesTheConnection()
    {
        Options o;
        o.dropAtLine = 1;
        SimTarget target(o);
        QVERIFY(target.listen());
        QSignalSpy dropped(&target, &SimTarget::clientDropped);
        QSignalSpy disconnected(&target, &SimTarget::clientDisconnected);
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));
        pc.send(kAnnounce2);
        QCOMPARE(pc.take(15), kAck0);
        pc.send(kLine1);
        QCOMPARE(pc.take(15), kAck1);

        QSignalSpy closed(&pc.socket, &QTcpSocket::disconnected);
        pc.send(kLine2);
        QVERIFY(closed.wait(kWaitMs));
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(disconnected.size(), 0); // the target hung up; nobody went away by themselves
        QVERIFY(pc.received.isEmpty());
        QVERIFY(!target.hasClient());
        QCOMPARE(target.bootloader().acceptedLines(), lines({kLine1}));
        QCOMPARE(target.bootloader().timesReceived(1), 1);

        // The port still takes the next connection, and the line is not dropped again.
        TcpPeer again;
        QVERIFY(again.connectTo(target.port()));
        again.send(":U;");
        QCOMPARE(again.take(15), kU);
        again.send(kLine2);
        QCOMPARE(again.take(15), kAck2);
        QCOMPARE(target.bootloader().acceptedLines(), lines({kLine1, kLine2}));
    }

    void newerConnectionReplacesTheOlder()
    {
        Options o;
        o.idle = std::chrono::milliseconds(60000); // a partial frame waits for its end
        SimTarget target(o);
        QVERIFY(target.listen());
        QSignalSpy connected(&target, &SimTarget::clientConnected);
        QSignalSpy disconnected(&target, &SimTarget::clientDisconnected);
        QSignalSpy frames(&target, &SimTarget::frameReceived);

        TcpPeer older;
        QVERIFY(older.connectTo(target.port()));
        older.send(":U;:U"); // the second frame is left open
        QCOMPARE(older.take(15), kU);

        QSignalSpy olderClosed(&older.socket, &QTcpSocket::disconnected);
        TcpPeer newer;
        QVERIFY(newer.connectTo(target.port()));
        QVERIFY(olderClosed.wait(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, kWaitMs);
        QCOMPARE(disconnected.size(), 1);

        // The older client's open frame does not run on into the newer one's bytes.
        newer.send(";:U;");
        QCOMPARE(newer.take(15), kU);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(target.bootloader().frames(), lines({":U;", ":U;"}));
    }

    void clientLeavingIsNoticed()
    {
        SimTarget target;
        QVERIFY(target.listen());
        QSignalSpy disconnected(&target, &SimTarget::clientDisconnected);
        {
            TcpPeer pc;
            QVERIFY(pc.connectTo(target.port()));
            QTRY_VERIFY_WITH_TIMEOUT(target.hasClient(), kWaitMs);
            pc.socket.disconnectFromHost();
        }
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 1, kWaitMs);
        QVERIFY(!target.hasClient());

        TcpPeer next;
        QVERIFY(next.connectTo(target.port()));
        next.send(":U;");
        QCOMPARE(next.take(15), kU);
    }

    void stopListeningClosesClientAndPort()
    {
        SimTarget target;
        QVERIFY(target.listen());
        const quint16 port = target.port();
        TcpPeer pc;
        QVERIFY(pc.connectTo(port));
        QTRY_VERIFY_WITH_TIMEOUT(target.hasClient(), kWaitMs);
        QSignalSpy closed(&pc.socket, &QTcpSocket::disconnected);
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

    // ---- pacing at a baud rate

    void pacingDelaysFramesAndReplies()
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
        pc.send(kAnnounce2); // 17 bytes: 142 ms on the line
        QCOMPARE(pc.take(15), kAck0); // 15 bytes: 125 ms more
        const qint64 replyAt = clock.elapsed();
        QVERIFY2(frameAt >= 135, qPrintable(QString::number(frameAt)));
        QVERIFY2(replyAt >= 260, qPrintable(QString::number(replyAt)));
        QVERIFY2(replyAt - frameAt >= 115, qPrintable(QString::number(replyAt - frameAt)));
        // Byte by byte, not in one lump at the end.
        QVERIFY(pc.pieces.size() >= 2);
    }

    void slowLineDoesNotCutARecordBetweenBytes()
    {
        SimTarget target;
        QVERIFY(target.listen());
        TcpPeer pc;
        QVERIFY(pc.connectTo(target.port()));
        pc.send(":W00000200014400;");
        QCOMPARE(pc.take(15), kAck0);

        // At 300 baud a byte takes 33 ms, longer than the 20 ms quiet time that ends a record.
        TransportOptions t;
        t.baud = 300;
        target.setTransportOptions(t);
        pc.send(":10000000");
        QCOMPARE(pc.take(15, 5000), kAck1);
        QCOMPARE(target.bootloader().acceptedLines(), std::vector<std::string>{":10000000"});
    }
};

QTEST_GUILESS_MAIN(TestSimTargetTcp)
#include "test_simtarget_tcp.moc"

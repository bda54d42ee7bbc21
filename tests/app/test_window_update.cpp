// The update handlers with links the test drives by hand: the receive timers, the probe, the
// commands and the engine, frame by frame.
#include "app/windowfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace morven;

namespace {
const QString UpdateModeText = QStringLiteral("Enter Update mode,first step Erase flash,second step Download!");
const QString Success = QStringLiteral("Update program success,please reset power!");

// A target reply: sequence number, length 1, status, CRC bytes (not checked by the window).
QByteArray reply(char letter, int seq, int status)
{
    char text[32];
    std::snprintf(text, sizeof text, ":%c%04X01%02XABCD;", letter, seq, status);
    return text;
}
} // namespace

class WindowUpdate : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::FakeLinkWindow> f;
    QTemporaryDir dir;

    // Loads `lines` numbered lines ("L0", "L1", ...) into List2 as the operator would.
    void loadLines(int lines)
    {
        const QString path = dir.filePath(QStringLiteral("fw%1.txt").arg(lines));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < lines; ++i)
            file.write("L" + QByteArray::number(i) + "\r\n");
        file.close();
        f->dialogs->paths.push_back(path);
        f->click("Command10");
        QCOMPARE(f->window->list2Items().count(), std::size_t(lines));
    }
    // Opens the (fake) serial port so that frames go out on it.
    void openSerial()
    {
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
    }
    // A serial reply, handed over as the port would: bytes, then a receive notification.
    void serialReply(const QByteArray &bytes)
    {
        f->serial->incoming += bytes;
        f->serial->event = SerialPort::Receive;
        emit f->serial->commEvent();
    }
    QProgressBar *bar() const { return f->control<QProgressBar>("ProgressBar1"); }

private slots:
    void init()
    {
        f = std::make_unique<test::FakeLinkWindow>();
        QVERIFY(dir.isValid());
    }
    void cleanup()
    {
        QVERIFY(f->socket->refused.isEmpty());
        f.reset();
    }

    // --- sending ---

    void framesGoOutOnTheSelectedLinkOnly()
    {
        openSerial();
        f->click("Command13");
        QCOMPARE(f->serial->written, QByteArray(":U;"));
        f->click("Option1");
        f->aimAt(7776);
        f->click("Command32");
        f->socket->completeConnection();
        f->serial->written.clear();
        f->click("Command8");
        QCOMPARE(f->socket->sent, QByteArray(":K00000101C074;"));
        QCOMPARE(f->serial->written, QByteArray());
    }

    void sendingOnAClosedLinkIsSilent()
    {
        f->click("Command13");
        f->click("Command15");
        QCOMPARE(f->serial->written, QByteArray());
        QVERIFY(f->dialogs->shown.empty());
    }

    // --- receiving ---

    void serialReplyInTwoPiecesIsReadOnce()
    {
        openSerial();
        serialReply(":K0000");
        QVERIFY(f->timer("Timer1")->isEnabled());
        QTest::qWait(10);
        serialReply("0103ABCD;"); // the timer is already running: this changes nothing
        QVERIFY(f->dialogs->shown.empty());
        QTRY_COMPARE_WITH_TIMEOUT(f->dialogs->messages(), QStringList{"Erase flash success!"}, 5000);
        QVERIFY(!f->timer("Timer1")->isEnabled());
        QCOMPARE(f->timer("Timer1")->interval(), 50);
        QCOMPARE(f->serial->incoming, QByteArray());
    }

    void serialTickWithoutReceptionReadsNothing()
    {
        openSerial();
        f->serial->incoming = reply('K', 0, 3);
        f->serial->event = SerialPort::Send;
        emit f->serial->commEvent();
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer1")->isEnabled(), 5000);
        QCOMPARE(f->timer("Timer1")->interval(), 50);
        QVERIFY(f->dialogs->shown.empty());
        QCOMPARE(f->serial->incoming, reply('K', 0, 3)); // left for the next reception
    }

    void serialReplyIsCutAtTheCountTakenBeforeTheRead()
    {
        openSerial();
        // Only 7 bytes are counted; the rest of the reply is read with them but not looked at.
        f->serial->incoming = ":U00000";
        f->serial->event = SerialPort::Receive;
        emit f->serial->commEvent();
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer1")->isEnabled(), 5000);
        QCOMPARE(f->window->replyState().RecCmd, std::uint8_t('U'));
        QVERIFY(f->dialogs->shown.empty());
    }

    void networkTickWithNothingWaitingIsHarmless()
    {
        f->click("Option1");
        emit f->socket->dataArrival(0);
        QVERIFY(f->timer("Timer5")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer5")->isEnabled(), 5000);
        QCOMPARE(f->window->replyState().RecCmd, std::uint8_t(0));
    }

    void networkReplyReachesTheDispatcher()
    {
        f->click("Option1");
        f->socket->deliver(":S0000");
        f->socket->deliver("0100ABCD;");
        QTRY_COMPARE_WITH_TIMEOUT(f->dialogs->messages(), QStringList{"Run user program!"}, 5000);
        QCOMPARE(f->socket->incoming, QByteArray());
    }

    void hugeNetworkBatchIsTakenWhole()
    {
        f->click("Option1");
        f->socket->deliver(reply('K', 0, 0) + QByteArray(40000, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer5")->isEnabled(), 5000);
        QCOMPARE(f->socket->incoming.size(), 0);
        QCOMPARE(f->dialogs->messages(), QStringList{"Erase flash failure,please try again!"});
    }

    // --- probe and commands ---

    void updateModeAsksForPowerThenProbesOnSerial()
    {
        openSerial();
        f->socket->attempts.clear();
        f->click("Command5");
        QCOMPARE(f->dialogs->messages(), QStringList{"Please power up!"});
        QCOMPARE(f->serial->written, QByteArray()); // nothing before the message is closed
        QVERIFY(f->timer("Timer4")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(f->serial->written.size() >= 6, 5000);
        QVERIFY(f->serial->written.startsWith(":U;:U;"));
        QVERIFY(f->socket->attempts.isEmpty());

        serialReply(reply('U', 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(f->dialogs->messages().size(), 2, 5000);
        QCOMPARE(f->dialogs->messages().last(), UpdateModeText);
        QVERIFY(!f->timer("Timer4")->isEnabled());
        const QByteArray sent = f->serial->written;
        QTest::qWait(450);
        QCOMPARE(f->serial->written, sent); // no link test after the answer
    }

    void probeOnTcpReconnectsUntilConnectedThenTests()
    {
        f->click("Option1");
        f->aimAt(7776);
        f->click("Command5");
        QTRY_VERIFY_WITH_TIMEOUT(f->socket->attempts.size() >= 2, 5000);
        QCOMPARE(f->socket->sent, QByteArray()); // a tick that reconnects sends nothing
        QCOMPARE(f->enabledLinkControls(), QStringList{"Command33"});

        f->socket->completeConnection();
        const auto attempts = f->socket->attempts.size();
        QTRY_COMPARE_WITH_TIMEOUT(f->socket->sent, QByteArray(":U;"), 5000);
        QCOMPARE(f->socket->attempts.size(), attempts);
        f->socket->deliver(reply('U', 0, 0));
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer4")->isEnabled(), 5000);
    }

    void probePausesJustOverATenthWhileEventsGoOn()
    {
        f->click("Option1");
        f->aimAt(7776);
        QElapsedTimer clock;
        int closesAtStart = f->socket->closes;
        bool tickedInPause = false;
        QTimer other;
        connect(&other, &QTimer::timeout, this,
            [&] { tickedInPause = tickedInPause || f->socket->closes > closesAtStart; });
        other.start(5);
        clock.start();
        f->window->Timer4_Timer();
        QVERIFY(clock.elapsed() > 100);
        QVERIFY(tickedInPause); // other events ran during the pause
        QCOMPARE(f->socket->attempts.size(), 1);
    }

    void eraseFlashStopsTheProbeEraseDataDoesNot()
    {
        openSerial();
        f->click("Command5");
        f->serial->written.clear();
        f->click("Command8");
        QVERIFY(f->timer("Timer4")->isEnabled());
        QCOMPARE(f->serial->written, QByteArray(":K00000101C074;"));
        f->click("Command15");
        QVERIFY(!f->timer("Timer4")->isEnabled());
        QCOMPARE(f->serial->written, QByteArray(":K00000101C074;:K000001028075;"));
    }

    void updateModeRunsTcpCloseEvenOnSerial()
    {
        f->click("Option1");
        f->aimAt(7776);
        f->click("Command32");
        f->socket->completeConnection();
        f->click("Option2");
        const int closes = f->socket->closes;
        f->click("Command5");
        QVERIFY(f->socket->closes > closes);
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
    }

    void eraseReplies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("failure") << 0 << "Erase flash failure,please try again!";
        QTest::newRow("success") << 3 << "Erase flash success!";
        QTest::newRow("blank check") << 1 << "Erase flash success,but check empty error! please try again!";
    }
    void eraseReplies()
    {
        QFETCH(int, status);
        QFETCH(QString, message);
        openSerial();
        serialReply(reply('K', 0, status));
        QTRY_COMPARE_WITH_TIMEOUT(f->dialogs->messages(), QStringList{message}, 5000);
    }

    // --- engine ---

    void downloadOfAnEmptyListAsksForAFile()
    {
        openSerial();
        f->click("Command4");
        QCOMPARE(f->dialogs->messages(), QStringList{"Please open the file to download!"});
        QCOMPARE(f->dialogs->shown.back().kind, QStringLiteral("open"));
        QCOMPARE(f->serial->written, QByteArray());
    }

    void downloadOfAnEmptyListGoesOnWithTheFileOpened()
    {
        openSerial();
        const QString path = dir.filePath(QStringLiteral("one.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(":LINE\r\n");
        file.close();
        f->dialogs->paths.push_back(path);
        f->click("Command4");
        QCOMPARE(f->serial->written, QByteArray(":W00000200014400;"));
    }

    void oDownloadAnnouncesAnEmptyList()
    {
        openSerial();
        f->click("Command1");
        QCOMPARE(f->serial->written, QByteArray(":O000002000085C0;"));
        QVERIFY(f->dialogs->shown.empty());
    }

    void downloadStopsTheProbeODownloadDoesNot()
    {
        openSerial();
        loadLines(1);
        f->click("Command5");
        f->click("Command1");
        QVERIFY(f->timer("Timer4")->isEnabled());
        f->click("Command4");
        QVERIFY(!f->timer("Timer4")->isEnabled());
    }

    void wholeDownloadWithARetry()
    {
        openSerial();
        loadLines(3);
        f->click("Command4");
        QCOMPARE(f->serial->written, QByteArray(":W0000020003C5C1;"));
        f->serial->written.clear();
        f->window->CommRec(reply('W', 0, 1), 17);
        QCOMPARE(f->serial->written, QByteArray("L0"));
        QCOMPARE(bar()->maximum(), 3);
        QCOMPARE(bar()->value(), 0);
        f->window->CommRec(reply('W', 1, 1), 17);
        f->window->CommRec(reply('W', 2, 0), 17); // line 1 asked for again
        f->window->CommRec(reply('W', 2, 1), 17);
        QCOMPARE(f->serial->written, QByteArray("L0L1L1L2"));
        QCOMPARE(bar()->value(), 2);
        f->window->CommRec(reply('W', 3, 1), 17);
        QCOMPARE(f->serial->written, QByteArray("L0L1L1L2"));
        QCOMPARE(f->dialogs->messages(), QStringList{Success});
        QCOMPARE(bar()->value(), 3);
        QCOMPARE(bar()->maximum(), 3);
    }

    void elevenRejectionsFail()
    {
        openSerial();
        loadLines(4);
        f->window->CommRec(reply('O', 0, 1), 17);
        f->window->CommRec(reply('O', 1, 1), 17);
        f->window->CommRec(reply('O', 2, 1), 17);
        f->serial->written.clear();
        for (int i = 0; i < 11; ++i)
            f->window->CommRec(reply('O', 3, 0), 17);
        QCOMPARE(f->serial->written, QByteArray("L2").repeated(10));
        QCOMPARE(f->dialogs->messages(), QStringList{"Update program failure, please reset power and try again !!"});
        f->window->CommRec(reply('O', 3, 0), 17);
        QCOMPARE(f->dialogs->messages().size(), 2);
        QCOMPARE(f->serial->written, QByteArray("L2").repeated(10));
    }

    void verifyCrcSendsLine29OnTheNextTick_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("more lines") << 31 << QByteArray("L29") << QStringList{};
        QTest::newRow("exactly 29") << 29 << QByteArray() << QStringList{Success};
        QTest::newRow("fewer") << 10 << QByteArray() << QStringList{};
    }
    void verifyCrcSendsLine29OnTheNextTick()
    {
        QFETCH(int, lines);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, messages);
        openSerial();
        loadLines(lines);
        f->click("Command9");
        QCOMPARE(int(f->window->engineState().LineNo), 29);
        QVERIFY(f->timer("Timer2")->isEnabled());
        QCOMPARE(f->serial->written, QByteArray()); // not before the tick
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer2")->isEnabled(), 5000);
        QCOMPARE(f->serial->written, sent);
        QCOMPARE(f->dialogs->messages(), messages);
        QVERIFY(bar()->value() <= bar()->maximum());
    }

    void tooLongAListIsNotAnnounced()
    {
        openSerial();
        loadLines(32768);
        f->click("Command1");
        QCOMPARE(f->serial->written, QByteArray());
        QCOMPARE(f->dialogs->messages().size(), 1);
        QVERIFY(f->dialogs->messages().first().contains(QLatin1String("32767")));
    }
};

QTEST_MAIN(WindowUpdate)
#include "test_window_update.moc"

// Opening and closing both links from the window, and the controls that follow them.
#include "app/windowfixture.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <termios.h>

using namespace morven;

namespace {
const QStringList SerialClosed{"COM_PORT", "Combo2", "Command12"};
const QStringList SerialOpen{"Command11"};
const QStringList NetClosed{"IP_Addr", "IP_Port", "Command32"};
const QStringList NetBusy{"Command33"}; // connecting, connected or lost
} // namespace

class WindowLinks : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::WindowFixture> f;
    std::unique_ptr<QTcpServer> server;

    // Selects "NET LINK", points it at the loopback listener and connects.
    QTcpSocket *connectOverTcp()
    {
        f->click("Option1");
        f->aimAt(server->serverPort());
        f->click("Command32");
        if (!server->waitForNewConnection(5000))
            return nullptr;
        QTcpSocket *peer = server->nextPendingConnection();
        if (!QTest::qWaitFor([this] { return f->lamp() == FrmMain::LampGreen; }, 5000))
            return nullptr;
        return peer;
    }

private slots:
    void init()
    {
        f = std::make_unique<test::WindowFixture>();
        QVERIFY(f->pty.isValid());
        server = std::make_unique<QTcpServer>();
        QVERIFY(server->listen(QHostAddress::LocalHost));
    }
    void cleanup()
    {
        QVERIFY2(f->socket->refused.isEmpty(), "a test aimed the socket away from loopback");
        f.reset();
        server.reset();
    }

    void startsInSerialModeWithBothLinksClosed()
    {
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
        QVERIFY(!f->serial->isOpen());
        QVERIFY(!f->socket->isConnected());
        QVERIFY(f->socket->attempts.isEmpty());
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QVERIFY(f->dialogs->shown.empty());
    }

    // --- serial ---

    void openPortThenClosePort()
    {
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        QCOMPARE(f->requestedPorts, QList<int>{1});
        QCOMPARE(f->enabledLinkControls(), SerialOpen);
        termios t{};
        QCOMPARE(tcgetattr(f->pty.slaveFd(), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));

        f->click("Command11");
        QVERIFY(!f->serial->isOpen());
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
        QVERIFY(f->dialogs->shown.empty());
    }

    void chosenRateReachesTheLine()
    {
        f->control<QComboBox>("Combo2")->setCurrentText(QStringLiteral("115200"));
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        termios t{};
        QCOMPARE(tcgetattr(f->pty.slaveFd(), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B115200));
    }

    void bytesWaitingBeforeOpenPortAreDiscarded()
    {
        QVERIFY(f->pty.write("noise on the line"));
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        QCoreApplication::processEvents();
        QCOMPARE(f->serial->bytesWaiting(), 0);
        QCOMPARE(f->serial->read(), QByteArray());
    }

    void portNumberText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("zero") << "0" << 1;
        QTest::newRow("negative") << "-3" << 1;
        QTest::newRow("letters") << "abc" << 1;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("too large") << "70000" << 1;
        QTest::newRow("half to even, down") << "2.5" << 2;
        QTest::newRow("half to even, up") << "3.5" << 4;
        QTest::newRow("plain") << "7" << 7;
    }
    void portNumberText()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        f->control<QLineEdit>("COM_PORT")->setText(text);
        f->click("Command12");
        QCOMPARE(f->requestedPorts, QList<int>{port});
        QCOMPARE(f->serial->isOpen(), port == 1);
        QCOMPARE(f->enabledLinkControls(), SerialOpen);
    }

    void rejectedSettingLeavesPortClosedButCloseEnabled_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::newRow("empty") << "";
        QTest::newRow("words") << "fast";
        QTest::newRow("zero") << "0";
    }
    void rejectedSettingLeavesPortClosedButCloseEnabled()
    {
        QFETCH(QString, rate);
        f->control<QComboBox>("Combo2")->setCurrentText(rate);
        f->click("Command12");
        QVERIFY(!f->serial->isOpen());
        QVERIFY(f->requestedPorts.isEmpty()); // the set-up ended before a device was chosen
        QCOMPARE(f->enabledLinkControls(), SerialOpen);
        QVERIFY(f->dialogs->shown.empty());
        f->click("Command11");
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
    }

    void openPortTwiceReopens()
    {
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        f->window->Command12_Click();
        QVERIFY(f->serial->isOpen());
        QCOMPARE(f->requestedPorts, (QList<int>{1, 1}));
    }

    void closePortOnAClosedPortOnlySetsControls()
    {
        f->window->Command11_Click();
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
        QVERIFY(f->dialogs->shown.empty());
    }

    void vanishingDeviceClosesPortAndKeepsControls()
    {
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        f->pty.closeSlave();
        f->pty.closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!f->serial->isOpen(), 5000);
        QCOMPARE(f->enabledLinkControls(), SerialOpen);
        QVERIFY(f->dialogs->shown.empty());
    }

    // --- switching links ---

    void netLinkClosesTheSerialPortAndCommPortLeavesItClosed()
    {
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        f->click("Option1");
        QVERIFY(!f->serial->isOpen());
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        QVERIFY(f->socket->attempts.isEmpty()); // selecting the link connects nothing
        QCOMPARE(f->lamp(), FrmMain::LampGrey);

        f->click("Option2");
        QVERIFY(!f->serial->isOpen());
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
    }

    void formLoadAppliesTheSelectedLink()
    {
        f->control<QRadioButton>("Option1")->setChecked(true);
        f->control<QWidget>("COM_PORT")->setEnabled(true);
        f->window->Form_Load();
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        f->control<QRadioButton>("Option2")->setChecked(true);
        f->window->Form_Load();
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
    }

    // --- TCP ---

    void connectTurnsLampGreenAndStartsWatchdog()
    {
        f->click("Option1");
        f->aimAt(server->serverPort());
        f->click("Command32");
        // At once, before the connection is made.
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QVERIFY(!f->timer("Timer6")->isEnabled());

        QVERIFY(server->waitForNewConnection(5000));
        QTRY_COMPARE_WITH_TIMEOUT(f->lamp(), FrmMain::LampGreen, 5000);
        QVERIFY(f->timer("Timer6")->isEnabled());
        QCOMPARE(f->timer("Timer6")->interval(), 500);
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QCOMPARE(f->socket->attempts, QStringList{"127.0.0.1"});
    }

    void peerCloseGreysLampAtOnceAndWatchdogClosesLink()
    {
        QTcpSocket *peer = connectOverTcp();
        QVERIFY(peer);
        QRgb lampAtClose = 0;
        QStringList controlsAtClose;
        QElapsedTimer sinceClose;
        connect(f->socket, &TcpSocket::closed, this, [&] {
            lampAtClose = f->lamp();
            controlsAtClose = f->enabledLinkControls();
            sinceClose.start();
        });
        peer->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(sinceClose.isValid(), 5000);
        QCOMPARE(lampAtClose, FrmMain::LampGrey);
        QCOMPARE(controlsAtClose, NetBusy); // the close event touches only the lamp
        QTRY_COMPARE_WITH_TIMEOUT(f->enabledLinkControls(), NetClosed, 5000);
        qInfo("controls closed %lld ms after the peer closed", sinceClose.elapsed());
        QVERIFY(!f->timer("Timer6")->isEnabled());
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
    }

    void watchdogLeavesALiveConnectionAlone()
    {
        QTcpSocket *peer = connectOverTcp();
        QVERIFY(peer);
        QSignalSpy ticks(f->timer("Timer6"), &FormTimer::tick);
        QVERIFY(ticks.wait(5000));
        QCOMPARE(f->lamp(), FrmMain::LampGreen);
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QVERIFY(f->timer("Timer6")->isEnabled());
    }

    void closeWhileConnected()
    {
        QTcpSocket *peer = connectOverTcp();
        QVERIFY(peer);
        QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
        f->click("Command33");
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        QVERIFY(!f->socket->isConnected());
        QVERIFY(peerGone.wait(5000));
        // The watchdog runs "close" once more at its next tick, changes nothing visible, and stops.
        QVERIFY(f->timer("Timer6")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer6")->isEnabled(), 5000);
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
    }

    void connectWhileCommPortSelectedConnectsNothing()
    {
        f->aimAt(server->serverPort());
        const QStringList before = f->enabledLinkControls();
        f->window->Command32_Click();
        QVERIFY(f->socket->attempts.isEmpty());
        QVERIFY(!server->hasPendingConnections());
        QCOMPARE(before, SerialClosed);
        QCOMPARE(f->enabledLinkControls(), (QStringList{"COM_PORT", "Combo2", "Command12", "Command33"}));
    }

    void commPortWhileConnectedClosesTheSocket()
    {
        QTcpSocket *peer = connectOverTcp();
        QVERIFY(peer);
        QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
        f->click("Option2");
        QVERIFY(!f->socket->isConnected());
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
        QVERIFY(peerGone.wait(5000));
    }

    void unusablePortTextLeavesLinkConnecting()
    {
        f->click("Option1");
        f->aimAt(server->serverPort());
        f->control<QLineEdit>("IP_Port")->setText(QStringLiteral("telnet"));
        f->click("Command32");
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QVERIFY(!server->hasPendingConnections());
        QVERIFY(f->dialogs->shown.empty());
        f->click("Command33");
        QCOMPARE(f->enabledLinkControls(), NetClosed);
    }

    void nothingListeningLeavesLinkConnecting()
    {
        f->click("Option1");
        const quint16 unused = server->serverPort();
        server->close(); // nothing listens there now
        f->aimAt(unused);
        f->click("Command32");
        QSignalSpy connected(f->socket, &TcpSocket::connected);
        QVERIFY(!connected.wait(300));
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QVERIFY(f->dialogs->shown.empty());
    }
};

QTEST_MAIN(WindowLinks)
#include "test_window_links.moc"

// The window as built against data/layout.txt, its two links, and the timers it runs on.
#include "support/windowfixture.h"
#include "support/testmain.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QProgressBar>
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

// name | class | caption | geometry | frame | what else the operator sees or the handlers rely on;
// the lamp also as a picture
QString describe(QObject *o)
{
    auto *w = qobject_cast<QWidget *>(o);
    QString caption = w && w->isWindow() ? w->windowTitle() : QString();
    for (const char *property : {"text", "title", "currentText"})
        if (o->property(property).isValid() && !o->inherits("QProgressBar")) // whose text is hidden
            caption = o->property(property).toString();
    QStringList cols{o->objectName(), QLatin1String(o->metaObject()->className()), caption}, extra;
    if (w) {
        const QRect r = w->geometry();
        cols << QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
             << (w->parentWidget() ? w->parentWidget()->objectName() : QStringLiteral("-"));
        if (!w->isEnabled())
            extra << QStringLiteral("disabled");
        if (!w->accessibleName().isEmpty())
            extra << QLatin1String("name=") + w->accessibleName();
        if (w->isWindow() && w->minimumSize() == w->maximumSize())
            extra << QStringLiteral("fixed size");
    }
    if (auto *line = qobject_cast<QFrame *>(o); line && line->frameShape() == QFrame::HLine)
        extra << QStringLiteral("horizontal line");
    if (auto *bar = qobject_cast<QProgressBar *>(o))
        extra << QStringLiteral("value %1 of %2..%3").arg(bar->value()).arg(bar->minimum()).arg(bar->maximum());
    if (auto *t = qobject_cast<FormTimer *>(o))
        extra << QStringLiteral("enabled=%1 interval=%2 running=%3")
                     .arg(int(t->isEnabled()))
                     .arg(t->interval())
                     .arg(int(t->isRunning()));
    if (auto *combo = qobject_cast<QComboBox *>(o)) {
        extra << QLatin1String("current item ") + combo->itemText(combo->currentIndex()) << QStringLiteral("items");
        for (int i = 0; i < combo->count(); ++i)
            extra << combo->itemText(i);
        extra << QLatin1String("edit field name=") + combo->lineEdit()->accessibleName();
    }
    if (!extra.isEmpty())
        cols << extra.join(QLatin1Char(' '));
    QString line = cols.join(QLatin1String(" | "));
    if (auto *lamp = qobject_cast<Lamp *>(o)) { // as drawn: '#' where painted, then its middle's colour
        QImage shot(lamp->size(), QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        lamp->render(&shot, QPoint(), QRegion(), {});
        for (int y = 0; y < shot.height(); ++y) {
            line += QLatin1String("\n    ");
            for (int x = 0; x < shot.width(); ++x)
                line += QLatin1Char(qAlpha(shot.pixel(x, y)) >= 128 ? '#' : '.');
        }
        line += QStringLiteral("\n    %1").arg(shot.pixel(8, 9) & 0xFFFFFF, 6, 16, QLatin1Char('0'));
    }
    return line;
}

QStringList describeAll(QObject *o)
{
    QStringList out;
    const QString name = o->objectName(); // the window's own objects, not Qt's
    if (!name.isEmpty() && name.front().isLetter() && !name.startsWith(QLatin1String("qt_")))
        out << describe(o).split(QLatin1Char('\n'));
    for (QObject *child : o->children())
        out << describeAll(child);
    return out;
}
} // namespace

class Window : public QObject
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
        return QTest::qWaitFor([this] { return f->lamp() == FrmMain::LampGreen; }, 5000) ? peer : nullptr;
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
        QVERIFY(f->dialogs->shown.empty()); // no link action shows a message
        f.reset();
        server.reset();
    }

    // One line per control in data/layout.txt. MORVEN_WRITE_LAYOUT=1 rewrites it from the window
    // as built: review the change with git diff.
    void controlsMatchTheGoldenList()
    {
        const QStringList built = describeAll(f->window.get());
        QFile file(QStringLiteral(MORVEN_APP_DATA "/layout.txt"));
        if (qEnvironmentVariableIsSet("MORVEN_WRITE_LAYOUT")) {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
            file.write((built.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
            file.close();
        }
        QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(file.fileName()));
        const QStringList golden = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        qsizetype i = 0;
        while (i < built.size() && i < golden.size() && built[i] == golden[i])
            ++i;
        QVERIFY2(built == golden,
            qPrintable(QStringLiteral("line %1 of layout.txt: \"%2\", the window: \"%3\"")
                           .arg(i + 1)
                           .arg(golden.value(i, QStringLiteral("<end>")), built.value(i, QStringLiteral("<end>")))));
        // The default host is only shown: the socket would have recorded any attempt.
        QVERIFY(f->socket->attempts.isEmpty());
    }

    // "Open port" takes the number and rate as typed; the controls show the port open even when
    // it did not open or failed later, until "Close port".
    void openPortThenClosePort_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QList<int>>("requested");
        QTest::addColumn<int>("speed"); // of the terminal, 0 when the port stays closed
        QTest::newRow("as it comes up") << 1 << "9600" << QList<int>{1} << int(B9600);
        QTest::newRow("chosen rate") << 1 << "115200" << QList<int>{1} << int(B115200);
        QTest::newRow("no such device") << 7 << "9600" << QList<int>{7} << 0;
        QTest::newRow("rate not a number") << 1 << "fast" << QList<int>{} << 0;
    }
    void openPortThenClosePort()
    {
        QFETCH(int, number);
        QFETCH(QString, rate);
        QFETCH(QList<int>, requested);
        QFETCH(int, speed);
        f->control<QLineEdit>("COM_PORT")->setText(QString::number(number));
        f->control<QComboBox>("Combo2")->setCurrentText(rate);
        f->click("Command12");
        QCOMPARE(f->requestedPorts, requested);
        QCOMPARE(f->serial->isOpen(), speed != 0);
        QCOMPARE(f->enabledLinkControls(), SerialOpen);
        termios t{};
        QCOMPARE(tcgetattr(f->pty.slaveFd(), &t), 0);
        if (speed) {
            QCOMPARE(cfgetospeed(&t), speed_t(speed));
            // The device goes away: the port fails quietly but stays open, as the controls show it.
            QSignalSpy failures(f->serial, &SerialComponent::failed);
            f->pty.closeSlave();
            f->pty.closeMaster();
            QVERIFY2(failures.wait(5000), "the serial port's failed()");
            QVERIFY(f->serial->isOpen());
            QCOMPARE(f->enabledLinkControls(), SerialOpen);
        }
        f->click("Command11");
        QVERIFY(!f->serial->isOpen());
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
    }

    // Each link closes the other when selected. The operator connects: the controls change at
    // once, the lamp turns green with the connection, the watchdog leaves a live link alone. When
    // the peer closes, the close event greys the lamp only and the watchdog's next tick closes the
    // link; "close" closes it at once, and the watchdog runs "close" once more and stops.
    void tcpLink()
    {
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
        f->click("Option1");
        QVERIFY(!f->serial->isOpen());
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        QVERIFY(f->socket->attempts.isEmpty()); // selecting the link connects nothing
        f->aimAt(server->serverPort());
        f->click("Command32");
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QVERIFY(server->waitForNewConnection(5000));
        MORVEN_WAIT_COMPARE(f->lamp(), FrmMain::LampGreen, 5000);
        QVERIFY(QSignalSpy(f->timer("Timer6"), &FormTimer::tick).wait(5000));
        QCOMPARE(f->lamp(), FrmMain::LampGreen);
        QCOMPARE(f->enabledLinkControls(), NetBusy);
        QStringList atClose;
        QObject watching; // ends the watch with this function, also when a check fails
        connect(f->socket, &SocketComponent::closed, &watching,
            [&] { atClose = f->enabledLinkControls() << QString::number(f->lamp(), 16); });
        server->nextPendingConnection()->disconnectFromHost();
        MORVEN_WAIT_COMPARE(atClose, NetBusy + QStringList{"808080"}, 5000);
        MORVEN_WAIT_COMPARE(f->enabledLinkControls(), NetClosed, 5000);
        QVERIFY(!f->timer("Timer6")->isEnabled());
        QTcpSocket *peer = connectOverTcp();
        QVERIFY(peer);
        QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
        f->click("Command33");
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        QVERIFY(peerGone.wait(5000));
        QVERIFY(f->timer("Timer6")->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return !f->timer("Timer6")->isEnabled(); }, 5000));
        QCOMPARE(f->enabledLinkControls(), NetClosed);
        peer = connectOverTcp();
        QVERIFY(peer);
        QSignalSpy peerGoneToo(peer, &QTcpSocket::disconnected);
        f->click("Option2");
        QCOMPARE(f->lamp(), FrmMain::LampGrey);
        QCOMPARE(f->enabledLinkControls(), SerialClosed);
        QVERIFY(peerGoneToo.wait(5000));
    }

    // Nothing listening, or a port that is no number: the link stays "connecting", quietly.
    void failedConnectLeavesLinkConnecting()
    {
        f->click("Option1");
        f->aimAt(server->serverPort());
        server->close();
        for (const char *port : {"", "telnet"}) {
            if (*port)
                f->control<QLineEdit>("IP_Port")->setText(QLatin1String(port));
            f->click("Command32");
            QVERIFY(!QSignalSpy(f->socket, &SocketComponent::connected).wait(300));
            QCOMPARE(f->enabledLinkControls(), NetBusy);
            QCOMPARE(f->lamp(), FrmMain::LampGrey);
            f->click("Command33");
            QCOMPARE(f->enabledLinkControls(), NetClosed);
        }
    }
};
MORVEN_TEST_CLASS(Window)

// Enabled and Interval as the handlers rely on them.
class FormTimers : public QObject
{
    Q_OBJECT
private slots:
    // Enabling an enabled timer keeps its count; re-enabling or a new interval starts afresh.
    void whenTheCountStartsAgain()
    {
        FormTimer t(QStringLiteral("t"), true, 1000);
        QVERIFY(QTest::qWaitFor([&] { return t.remainingTime() < 900; }, 5000));
        t.setEnabled(true);
        QVERIFY(t.remainingTime() < 900);
        t.setEnabled(false);
        QCOMPARE(t.remainingTime(), -1);
        t.setEnabled(true);
        QVERIFY(t.remainingTime() > 900);
        QVERIFY(QTest::qWaitFor([&] { return t.remainingTime() < 900; }, 5000));
        t.setInterval(2000);
        QVERIFY(t.remainingTime() > 1900);
    }
};
MORVEN_TEST_CLASS(FormTimers)

MORVEN_TEST_MAIN_ALL(QApplication)
#include "test_window.moc"

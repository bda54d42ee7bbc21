// Whole updates as an operator runs them: the real window, offscreen, with its dialogs answered
// by the test, against the simulated target over loopback TCP and over a pseudo-terminal.
#include "app/windowfixture.h"

#include "sim/simtarget.h"

#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace morven;

namespace {
const QString PowerUp = QStringLiteral("Please power up!");
const QString UpdateMode = QStringLiteral("Enter Update mode,first step Erase flash,second step Download!");
const QString EraseOk = QStringLiteral("Erase flash success!");
const QString Success = QStringLiteral("Update program success,please reset power!");
const QString Failure = QStringLiteral("Update program failure, please reset power and try again !!");

// Download lines as a conversion makes them: ":W" + sequence number + data + ";".
QStringList makeLines(int count)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral(":W%1100011223344556677889900AABBCCDDEEFF%2;")
                     .arg(i, 4, 16, QLatin1Char('0'))
                     .arg(i % 256, 2, 16, QLatin1Char('0'))
                     .toUpper();
    return lines;
}

QStringList toStrings(const std::vector<std::string> &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out;
}
} // namespace

class EndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::WindowFixture> f;
    std::unique_ptr<sim::SimTarget> target;
    QTemporaryDir dir;
    QStringList lines;

    void makeTarget(const sim::Options &options = {}, const sim::TransportOptions &transport = {})
    {
        target = std::make_unique<sim::SimTarget>(options, transport);
    }

    // The operator opens the firmware file.
    void openFirmware(int count)
    {
        lines = makeLines(count);
        const QString path = dir.filePath(QStringLiteral("fw%1.txt").arg(count));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lines.join(QLatin1String("\r\n")).toLatin1() + "\r\n");
        file.close();
        f->dialogs->paths.push_back(path);
        f->click("Command10");
        QCOMPARE(f->window->list2Items().count(), std::size_t(count));
    }

    // TCP: the target listens on loopback; the window is pointed at it and connects.
    void connectOverTcp()
    {
        QVERIFY(target->listen(QHostAddress::LocalHost, 0));
        f->click("Option1");
        f->aimAt(target->port());
        f->click("Command32");
        QTRY_COMPARE_WITH_TIMEOUT(f->lamp(), FrmMain::LampGreen, 5000);
    }

    // Serial: the window's port 1 is the target's terminal.
    void openOverPty()
    {
        QVERIFY(target->openPty());
        f->device = target->ptyPath();
        f->click("Command12");
        QVERIFY(f->serial->isOpen());
    }

    QStringList messages() const { return f->dialogs->messages(); }

    void waitForMessage(const QString &text, int timeoutMs = 10000)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(
            messages().contains(text), qPrintable(messages().join(QLatin1String(" | "))), timeoutMs);
    }

    // "Update mode", the target powers up and answers, "Erase flash", "Download".
    void fullRoad()
    {
        f->click("Command5");
        QCOMPARE(messages().value(0), PowerUp);
        waitForMessage(UpdateMode);
        QVERIFY(!f->timer("Timer4")->isEnabled());
        f->click("Command15");
        waitForMessage(EraseOk);
        f->click("Command4");
        waitForMessage(Success, 30000);
    }

    void expectDeliveredOnceInOrder()
    {
        QCOMPARE(toStrings(target->bootloader().acceptedLines()), lines);
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(target->bootloader().timesReceived(i), 1);
        auto *bar = f->control<QProgressBar>("ProgressBar1");
        QCOMPARE(bar->maximum(), lines.size());
        QCOMPARE(bar->value(), lines.size());
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        f = std::make_unique<test::WindowFixture>();
    }
    void cleanup()
    {
        QVERIFY2(f->socket->refused.isEmpty(), "a test aimed the socket away from loopback");
        f.reset();
        target.reset();
    }

    void fullUpdateOverTcp()
    {
        sim::Options options;
        options.powerUpAfter = 3; // the target comes up after a few link tests
        makeTarget(options);
        openFirmware(40);
        connectOverTcp();
        fullRoad();
        expectDeliveredOnceInOrder();
        const auto &announces = target->bootloader().announces();
        QCOMPARE(announces.size(), std::size_t(1));
        QCOMPARE(announces[0].kind, 'W');
        QCOMPARE(announces[0].count, 40);
        QVERIFY(announces[0].crcOk);
        QCOMPARE(target->bootloader().eraseSelectors(), std::vector<int>{2});
        QCOMPARE(messages(), (QStringList{PowerUp, UpdateMode, EraseOk, Success}));
    }

    void fullUpdateOverPty()
    {
        sim::Options options;
        options.powerUpAfter = 2;
        makeTarget(options);
        openFirmware(25);
        openOverPty();
        fullRoad();
        expectDeliveredOnceInOrder();
        QCOMPARE(messages(), (QStringList{PowerUp, UpdateMode, EraseOk, Success}));
    }

    void lineRejectedTenTimesThenAccepted()
    {
        sim::Options options;
        options.rejections[4] = 10;
        makeTarget(options);
        openFirmware(8);
        connectOverTcp();
        f->click("Command4");
        waitForMessage(Success, 30000);
        QCOMPARE(toStrings(target->bootloader().acceptedLines()), lines);
        QCOMPARE(target->bootloader().timesReceived(4), 11);
        QCOMPARE(target->bootloader().timesReceived(3), 1);
        QVERIFY(!messages().contains(Failure));
    }

    void elevenRejectionsFail()
    {
        sim::Options options;
        options.rejections[2] = 11;
        makeTarget(options);
        openFirmware(6);
        openOverPty();
        f->click("Command4");
        waitForMessage(Failure, 30000);
        QCOMPARE(target->bootloader().timesReceived(2), 11);
        QCOMPARE(target->bootloader().timesReceived(3), 0);
        QCOMPARE(toStrings(target->bootloader().acceptedLines()), lines.mid(0, 2));
        QTest::qWait(200); // no twelfth send follows
        QCOMPARE(target->bootloader().timesReceived(2), 11);
        QCOMPARE(messages().count(Failure), 1);
    }

    void oDownload()
    {
        makeTarget();
        openFirmware(12);
        connectOverTcp();
        f->click("Command1");
        waitForMessage(Success, 30000);
        QCOMPARE(target->bootloader().downloadKind(), 'O');
        expectDeliveredOnceInOrder();
    }

    void verifyCrcWithMoreThan29Lines()
    {
        makeTarget();
        openFirmware(31);
        connectOverTcp();
        f->click("Command4");
        waitForMessage(Success, 30000);
        const auto framesBefore = target->bootloader().frames().size();
        f->click("Command9");
        QTRY_VERIFY_WITH_TIMEOUT(target->bootloader().frames().size() > framesBefore, 5000);
        QCOMPARE(QString::fromStdString(target->bootloader().frames()[framesBefore]), lines[29]);
    }

    void verifyCrcWithExactly29LinesSendsNothing()
    {
        makeTarget();
        openFirmware(29);
        connectOverTcp();
        f->click("Command9");
        waitForMessage(Success, 5000);
        QTest::qWait(100);
        QVERIFY(target->bootloader().frames().empty());
    }

    void probeReconnectsUntilTheTargetIsUp()
    {
        makeTarget();
        // Find a free loopback port, then leave it closed: the target is down.
        QVERIFY(target->listen(QHostAddress::LocalHost, 0));
        const quint16 port = target->port();
        target->stopListening();
        f->click("Option1");
        f->aimAt(port);
        f->click("Command5");
        QTRY_VERIFY_WITH_TIMEOUT(f->socket->attempts.size() >= 3, 10000);
        QVERIFY(target->bootloader().frames().empty());

        QVERIFY(target->listen(QHostAddress::LocalHost, port));
        waitForMessage(UpdateMode, 10000);
        // The first frame on the new connection is a link test.
        QCOMPARE(QString::fromStdString(target->bootloader().frames().front()), QStringLiteral(":U;"));
        QVERIFY(!f->timer("Timer4")->isEnabled());
    }

    void replyInTwoPiecesIsGatheredOverTcp()
    {
        sim::TransportOptions transport;
        transport.splitReplies = true;
        transport.splitGapMs = 10;
        makeTarget({}, transport);
        openFirmware(10);
        connectOverTcp();
        f->click("Command4");
        waitForMessage(Success, 30000);
        expectDeliveredOnceInOrder();
    }

    void replyInTwoPiecesIsGatheredOverPty()
    {
        sim::TransportOptions transport;
        transport.splitReplies = true;
        transport.splitGapMs = 10;
        makeTarget({}, transport);
        openFirmware(10);
        openOverPty();
        f->click("Command4");
        waitForMessage(Success, 30000);
        expectDeliveredOnceInOrder();
    }

    void eraseDataAnsweredWithAFailedBlankCheck()
    {
        sim::Options options;
        options.eraseStatus = 1;
        makeTarget(options);
        connectOverTcp();
        f->click("Command8");
        waitForMessage(QStringLiteral("Erase flash success,but check empty error! please try again!"));
        QCOMPARE(target->bootloader().eraseSelectors(), std::vector<int>{1});
    }
};

QTEST_MAIN(EndToEnd)
#include "test_e2e_update.moc"

// A station slot against the simulated target: boards that arrive, pass, stay, leave and fail,
// over loopback TCP and over a pseudo-terminal whose device node comes and goes.
#include "station/slot.h"

#include "sim/simconfig.h"
#include "sim/simtarget.h"
#include "support/cliprocess.h"
#include "support/testmain.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

using namespace morven;
using station::Slot;

namespace {

std::unique_ptr<sim::SimTarget> simTarget(const QString &options)
{
    const sim::SimConfig c = sim::parseSimArguments(QStringList{"morven-sim", "--tcp", "0"} + options.split(' ', Qt::SkipEmptyParts));
    auto target = std::make_unique<sim::SimTarget>(c.bootloader, c.transport);
    return target;
}

int linkTests(const sim::Bootloader &b)
{
    const auto &f = b.frames();
    return int(std::count(f.begin(), f.end(), std::string(":U;")));
}

} // namespace

class TestSlot : public QObject
{
    Q_OBJECT

    LineStore lines;
    QTemporaryDir dir;

    station::SlotSetup setup(const QString &label, quint16 port)
    {
        station::SlotSetup s;
        s.label = label;
        s.port = QStringLiteral("tcp:127.0.0.1:%1").arg(port);
        s.makeLink = [port](QString &) { return std::make_unique<TcpStreamLink>(QStringLiteral("127.0.0.1"), port, 0); };
        s.timing.probeIntervalMs = 40;
        s.timing.replyTimeoutMs = 2000;
        s.leaveProbes = 3;
        s.lines = &lines;
        return s;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        for (const QString &line : test::downloadLines(12))
            lines.append(line.toStdString());
    }

    // A board arrives and passes, stays in place without a second unit, leaves, and the next
    // board passes too, on a serial device whose node disappears and appears (a symbolic link
    // stands in for udev's; boardsAtRandom does the same over TCP).
    void boardsComeAndGo()
    {
        auto target = simTarget(QString());
        QVERIFY(target->openPty());
        const QString node = dir.filePath(QStringLiteral("by-path-A1"));
        QFile::remove(node);
        station::SlotSetup s = setup(QStringLiteral("A1"), 0);
        s.port = node;
        s.portExists = [node] { return QFileInfo::exists(node); };
        s.makeLink = [node](QString &) { return std::make_unique<SerialStreamLink>(node, 115200); };
        Slot slot(s);
        slot.run();
        QCOMPARE(slot.stateText(), QStringLiteral("waiting for a board"));
        for (int board = 1; board <= 2; ++board) {
            QVERIFY(QFile::link(target->ptyPath(), node));
            QVERIFY2(QTest::qWaitFor([&] { return slot.phase() == Slot::Phase::Removing; }, 10000),
                qPrintable(slot.stateText()));
            QCOMPARE(slot.passed(), board);
            QCOMPARE(slot.stateText(), QStringLiteral("passed, remove board"));
            QCOMPARE(test::acceptedLines(target->bootloader()).size(), qsizetype(lines.size()));
            // Left in place: the link tests go on being answered, and nothing is flashed again.
            const int tests = linkTests(target->bootloader());
            QVERIFY(QTest::qWaitFor([&] { return linkTests(target->bootloader()) >= tests + 5; }, 10000));
            QCOMPARE(slot.unit().number, board);
            QFile::remove(node);
            MORVEN_WAIT_COMPARE(slot.stateText(), QStringLiteral("waiting for a board"), 10000);
        }
        QCOMPARE(slot.failed(), 0);
    }

    // Boards put on and taken off four positions in a random order (fixed seed), some left in
    // place while others come and go: every board is flashed once, and none twice.
    void boardsAtRandom()
    {
        QRandomGenerator random(20261206);
        std::vector<std::unique_ptr<sim::SimTarget>> targets;
        std::vector<std::unique_ptr<Slot>> slotList;
        std::vector<quint16> ports;
        std::vector<int> boards(4, 0);
        for (int i = 0; i < 4; ++i) {
            targets.push_back(simTarget(QString()));
            QVERIFY(targets[i]->listen());
            ports.push_back(targets[i]->port());
            targets[i]->stopListening(); // an empty position
            slotList.push_back(std::make_unique<Slot>(setup(QStringLiteral("R%1").arg(i + 1), ports[i])));
            slotList.back()->run();
        }
        for (int step = 0; step < 16; ++step) {
            const auto i = std::size_t(random.bounded(4));
            Slot &slot = *slotList[i];
            if (!targets[i]->isListening()) {
                QVERIFY(targets[i]->listen(QHostAddress::LocalHost, ports[i]));
                ++boards[i];
                auto done = [&] { return slot.phase() == Slot::Phase::Removing && slot.unit().number == boards[i]; };
                QVERIFY2(QTest::qWaitFor(done, 10000), qPrintable(slot.label() + ": " + slot.stateText()));
            } else {
                targets[i]->stopListening();
                MORVEN_WAIT_COMPARE(slot.phase(), Slot::Phase::Waiting, 10000);
            }
        }
        for (std::size_t i = 0; i < slotList.size(); ++i)
            QCOMPARE(std::pair(slotList[i]->passed(), slotList[i]->unit().number), std::pair(boards[i], boards[i]));
    }

    // One slot's board rejects a line 11 times, another's drops the line mid-download as if
    // unplugged: each fails alone, says where it left the board, and the third slot passes.
    void failuresStayInTheirSlot()
    {
        auto rejecting = simTarget(QStringLiteral("--reject 3:11"));
        auto dropping = simTarget(QStringLiteral("--drop-after 5"));
        auto good = simTarget(QString());
        for (auto *t : {rejecting.get(), dropping.get(), good.get()})
            QVERIFY(t->listen());
        // Unplugged: the position stays empty until the next board arrives.
        connect(dropping.get(), &sim::SimTarget::clientDropped, dropping.get(), &sim::SimTarget::stopListening);
        Slot a(setup(QStringLiteral("A1"), rejecting->port()));
        Slot b(setup(QStringLiteral("A2"), dropping->port()));
        Slot c(setup(QStringLiteral("A3"), good->port()));
        for (Slot *slot : {&a, &b, &c})
            slot->run();
        for (Slot *slot : {&a, &b, &c})
            QVERIFY2(QTest::qWaitFor([&] { return slot->unit().endedAt.isValid(); }, 10000),
                qPrintable(slot->label() + ": " + slot->stateText()));
        QCOMPARE(std::tuple(a.failed(), b.failed(), c.passed()), std::tuple(1, 1, 1));
        QCOMPARE(a.unit().phase, QStringLiteral("download"));
        QCOMPARE(a.unit().reason, QStringLiteral("line 3 was rejected 11 times; left flash erased, 2 of 12 lines written"));
        QCOMPARE(a.unit().retries, std::size_t(10));
        QVERIFY2(b.unit().reason.endsWith(QLatin1String("; left flash erased, 4 of 12 lines written")), qPrintable(b.unit().reason));
        // The unplugged position takes the next board.
        MORVEN_WAIT_COMPARE(b.stateText(), QStringLiteral("waiting for a board"), 10000);
        QVERIFY(dropping->listen(QHostAddress::LocalHost, b.port().section(':', -1).toUShort()));
        MORVEN_WAIT_COMPARE(b.passed(), 1, 10000);
    }

    // "Start" flashes a board left in place; stopping mid-download ends the unit as interrupted.
    void startAndStop()
    {
        auto target = simTarget(QStringLiteral("--delay 30"));
        QVERIFY(target->listen());
        Slot slot(setup(QStringLiteral("B1"), target->port()));
        slot.run();
        MORVEN_WAIT_COMPARE(slot.passed(), 1, 10000);
        slot.startNow();
        MORVEN_WAIT_COMPARE(slot.phase(), Slot::Phase::Flashing, 10000);
        QVERIFY(QTest::qWaitFor([&] { return slot.job() && slot.job()->session().linesDone() >= 2; }, 10000));
        QSignalSpy ended(&slot, &Slot::unitEnded);
        slot.stop();
        QCOMPARE(ended.size(), 1);
        QVERIFY(slot.unit().interrupted);
        QCOMPARE(slot.unit().number, 2);
        QCOMPARE(slot.stateText(), QStringLiteral("interrupted"));
        QCOMPARE(std::pair(slot.passed(), slot.failed()), std::pair(1, 0));
    }
};

MORVEN_TEST_CLASS(TestSlot)
#include "test_slot.moc"

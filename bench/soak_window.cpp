// Soak run: many consecutive downloads in one window session against the simulated target,
// printing memory in use and open file handles as it goes. Memory and handles must not grow
// with the number of downloads.
// Usage: soak_window [downloads, default 1000]
#include "app/frmmain.h"
#include "app/lamp.h"
#include "support/loopbacksocketcomponent.h"
#include "link/qtserialcomponent.h"
#include "support/scripteddialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

long openHandles()
{
    return long(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int downloads = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    const QString success = QStringLiteral("Update program success,please reset power!");

    // The target runs in a process of its own, so that what is measured here is the window's.
    QProcess target;
    target.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/sim/morven-sim"),
        {"--tcp", "127.0.0.1:0"});
    if (!target.waitForStarted(10000) || !target.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the simulated target did not start\n");
        return 1;
    }
    const QString port = QString::fromLatin1(target.readLine().trimmed()).section(QLatin1Char(':'), -1);
    auto dialogs = std::make_unique<morven::test::ScriptedDialogs>();
    auto *script = dialogs.get();
    morven::FrmMain window(std::make_unique<morven::QtSerialComponent>(),
        std::make_unique<morven::test::LoopbackSocketComponent>(), std::move(dialogs));
    auto click = [&](const char *name) { window.findChild<QAbstractButton *>(QLatin1String(name))->click(); };

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fw.txt"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 1; i <= 4; ++i)
        out.write(QStringLiteral(":W%1040011223300;\r\n").arg(i, 4, 16, QLatin1Char('0')).toUpper().toLatin1());
    out.close();
    script->paths.push_back(file);
    click("Command10");
    click("Option1");
    window.findChild<QLineEdit *>(QStringLiteral("IP_Addr"))->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QLineEdit *>(QStringLiteral("IP_Port"))->setText(port);
    click("Command32");
    auto *lamp = window.findChild<morven::Lamp *>(QStringLiteral("Shape11"));
    if (!QTest::qWaitFor([&] { return lamp->fillColor() == morven::FrmMain::LampGreen; }, 10000))
        return 1;

    QElapsedTimer clock;
    clock.start();
    long startRss = 0, startHandles = 0;
    for (int i = 1; i <= downloads; ++i) {
        const qsizetype before = script->messages().count(success);
        click("Command4");
        if (!QTest::qWaitFor([&] { return script->messages().count(success) > before; }, 30000)) {
            std::fprintf(stderr, "download %d did not finish\n", i);
            return 1;
        }
        // The record of shown messages is the test's, not the window's: keep it from growing.
        script->shown.clear();
        if (i == 1) {
            startRss = rssKiB();
            startHandles = openHandles();
            std::printf("after download 1: %ld KiB in use, %ld open handles\n", startRss, startHandles);
        } else if (i % 100 == 0 || i == downloads) {
            std::printf("after download %d: %ld KiB in use, %ld open handles (%.0f s)\n", i, rssKiB(), openHandles(),
                double(clock.elapsed()) / 1000.0);
        }
        std::fflush(stdout);
    }
    const long endRss = rssKiB(), endHandles = openHandles();
    std::printf("%d downloads: memory %+ld KiB, handles %+ld\n", downloads, endRss - startRss, endHandles - startHandles);
    target.terminate();
    target.waitForFinished();
    return endHandles == startHandles ? 0 : 2;
}

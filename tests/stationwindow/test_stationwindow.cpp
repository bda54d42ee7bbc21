// The station window read as a screen reader reads it: each tile by its accessible name (the
// slot label) and description (its state), the header's recipe, image and totals.
#include "stationwindow/stationwindow.h"

#include "sim/simtarget.h"
#include "support/cliprocess.h"
#include "support/testmain.h"

#include <QAccessible>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

using namespace morven;

class StationWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString recipe(const QList<quint16> &ports, bool goodHash)
    {
        QByteArray firmware;
        for (int i = 0; i < 20; ++i)
            firmware += test::hexRecord(QByteArray(16, char(i)), quint16(16 * i)) + "\n";
        firmware += ":00000001FF\n";
        test::writeFile(dir.filePath(QStringLiteral("controller.hex")), firmware);
        QJsonArray slotList;
        for (qsizetype i = 0; i < ports.size(); ++i)
            slotList.append(QJsonObject{
                {"label", QStringLiteral("B%1").arg(i + 1)}, {"port", QStringLiteral("tcp:127.0.0.1:%1").arg(ports[i])}});
        const QByteArray sha = QCryptographicHash::hash(goodHash ? firmware : QByteArray("x"), QCryptographicHash::Sha256).toHex();
        const QJsonObject o{{"name", "Controller board rev C"}, {"firmware", "controller.hex"}, {"sha256", QString::fromLatin1(sha)},
            {"format", "w"}, {"probe_interval_ms", 40}, {"slots", slotList}};
        return test::writeFile(dir.filePath(QStringLiteral("recipe.json")), QJsonDocument(o).toJson());
    }

    // What an accessibility client reads of every tile: "name: description".
    static QStringList tilesRead(QWidget *window)
    {
        QStringList out;
        QAccessibleInterface *root = QAccessible::queryAccessibleInterface(window);
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
            if (!node)
                return;
            if (node->object() && node->object()->objectName().startsWith(QLatin1String("tile-")))
                out << node->text(QAccessible::Name) + QStringLiteral(": ") + node->text(QAccessible::Description);
            for (int i = 0; i < node->childCount(); ++i)
                walk(node->child(i));
        };
        walk(root);
        out.sort();
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("MORVEN_STATION_NO_DIALOGS", "1");
    }

    void tilesSayWhatTheirBoardsDo()
    {
        sim::Options rejects;
        rejects.rejections = {{1, 11}}; // the second line
        sim::SimTarget good, rejecting(rejects);
        QVERIFY(good.listen());
        QVERIFY(rejecting.listen());
        station::StationOptions options;
        options.records = dir.filePath(QStringLiteral("units.sqlite"));
        stationwindow::StationWindow window(options);
        window.show();
        QVERIFY(!window.openRecipe(recipe({good.port(), rejecting.port()}, true)));
        const QStringList expected{"B1: passed, remove board",
            "B2: failed: line 2 was rejected 11 times; left flash erased, 1 of 3 lines written, remove board"};
        MORVEN_WAIT_COMPARE(tilesRead(&window), expected, 10000);
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("recipe"))->text(), QStringLiteral("Controller board rev C"));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("image"))->text().startsWith(QLatin1String("controller.hex  sha256 ")));
        // A unit counts once recorded, which may come just after its tile shows the result.
        MORVEN_WAIT_COMPARE(window.findChild<QLabel *>(QStringLiteral("totals"))->text(),
            QStringLiteral("units 2   passed 1   failed 1   yield 50.0 %"), 10000);
    }

    void refusedRecipeIsShownAndSendsNothing()
    {
        sim::SimTarget target;
        QVERIFY(target.listen());
        station::StationOptions options;
        options.records = dir.filePath(QStringLiteral("units.sqlite"));
        stationwindow::StationWindow window(options);
        QSignalSpy shown(&window, &stationwindow::StationWindow::messageShown);
        QVERIFY(window.openRecipe(recipe({target.port()}, false)));
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.at(0).at(0).toString().contains(QLatin1String("SHA-256")));
        QVERIFY(tilesRead(&window).isEmpty());
        QTest::qWait(100);
        QVERIFY(!target.hasClient() && target.bootloader().frames().empty());
    }
};

QTEST_MAIN(StationWindowTest)
#include "test_stationwindow.moc"

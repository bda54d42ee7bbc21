// The file and record buttons through the window, with the dialogs answered by the test.
#include "app/windowfixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QTemporaryDir>

using namespace morven;

namespace {
const QString FirmwareFilter
    = QStringLiteral("ZMA file(*.ZMA)|*.ZMA|ZMB file(*.ZMB)|*.ZMB|HEX file(*.HEX)|*.HEX|txt file(*.txt)|*.txt|"
                     "all file(*.*)|*.*||");
const QString RecordFilter = QStringLiteral("HEX file(*.HEX)|*.HEX|txt file(*.txt)|*.txt|all file(*.*)|*.*||");
const QString Save1Filter = QStringLiteral("HEX file(*.HEX)|*.HEX|TXT file(*.TXT)|*.TXT|all file(*.*)|*.*||");
const QString Save2Filter = QStringLiteral("file(*.HEX)|*.HEX|TXT file(*.TXT)|*.TXT|all file(*.*)|*.*||");
const QString InvalidFile = QStringLiteral("Invalid file name,please re open the file!");

const QByteArray WorkedExample = ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
                                 ":10001000101112131415161718191A1B1C1D1E1F68\r\n"
                                 ":00000001FF\r\n";

QStringList items(const LineListModel &list)
{
    QStringList out;
    for (std::size_t i = 0; i < list.count(); ++i)
        out << QString::fromLatin1(list.lines().at(i).data(), qsizetype(list.lines().at(i).size()));
    return out;
}
} // namespace

class WindowFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::WindowFixture> f;
    std::unique_ptr<QTemporaryDir> dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void openFirmware(const QString &path)
    {
        f->dialogs->paths.push_back(path);
        f->click("Command10");
    }
    void openRecords(const QString &path)
    {
        f->dialogs->paths.push_back(path);
        f->click("Command54");
    }
    QStringList list1() const { return items(f->window->list1Items()); }
    QStringList list2() const { return items(f->window->list2Items()); }
    QString label3() const { return f->control<QLabel>("Label3")->text(); }

private slots:
    void init()
    {
        f = std::make_unique<test::WindowFixture>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup()
    {
        f.reset();
        dir.reset();
    }

    // --- "Open file" ---

    void openFileAsksWithItsTitleAndFilter()
    {
        f->click("Command10");
        QCOMPARE(f->dialogs->shown.size(), 1u);
        QCOMPARE(f->dialogs->shown[0].kind, QStringLiteral("open"));
        QCOMPARE(f->dialogs->shown[0].text, QStringLiteral("Open file..."));
        QCOMPARE(f->dialogs->shown[0].extra, FirmwareFilter);
    }

    void openFileAddsLinesAndShowsThePath()
    {
        const QString path = write(QStringLiteral("fw.hex"), ":A\r\n:B\r\n:C");
        openFirmware(path);
        QCOMPARE(list2(), (QStringList{":A", ":B", ":C"}));
        QCOMPARE(label3(), QLatin1String("File:") + path);
        QVERIFY(f->dialogs->messages().isEmpty());
        QCOMPARE(f->control<QListView>("List2")->model()->rowCount(), 3);
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR only") << QByteArray("a\rb\rc") << QStringList{"a", "b", "c"};
        QTest::newRow("CR LF with empty line") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("LF alone ends nothing") << QByteArray("a\nb\n") << QStringList{"a\nb\n"};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
    }
    void lineEnds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        openFirmware(write(QStringLiteral("f.txt"), bytes));
        QCOMPARE(list2(), lines);
    }

    void openFileTwiceKeepsBothCopiesAndEmptiesList1()
    {
        openRecords(write(QStringLiteral("r.hex"), WorkedExample));
        QCOMPARE(list1().size(), 3);
        const QString path = write(QStringLiteral("fw.zma"), "one\r\ntwo\r\n");
        openFirmware(path);
        openFirmware(path);
        QCOMPARE(list2(), (QStringList{"one", "two", "one", "two"}));
        QVERIFY(list1().isEmpty());
    }

    void cancelledOpenChangesNothing()
    {
        openFirmware(write(QStringLiteral("a.txt"), "x\r\n"));
        openRecords(write(QStringLiteral("r.hex"), "r\r\n"));
        const QString before = label3();
        openFirmware(QString());
        QCOMPARE(list2(), QStringList{"x"});
        QCOMPARE(list1(), QStringList{"r"});
        QCOMPARE(label3(), before);
        QVERIFY(f->dialogs->messages().isEmpty());
    }

    void missingFileIsReportedAndChangesNothing()
    {
        openRecords(write(QStringLiteral("r.hex"), "r\r\n"));
        openFirmware(dir->filePath(QStringLiteral("nothing.hex")));
        QCOMPARE(f->dialogs->messages(), QStringList{InvalidFile});
        QCOMPARE(list1(), QStringList{"r"});
        QVERIFY(list2().isEmpty());
        QCOMPARE(label3(), QStringLiteral("File:"));
    }

    void aFolderIsAcceptedButReadsNothing()
    {
        openRecords(write(QStringLiteral("r.hex"), "r\r\n"));
        openFirmware(dir->path());
        QVERIFY(f->dialogs->messages().isEmpty());
        QVERIFY(list1().isEmpty());
        QVERIFY(list2().isEmpty());
        QCOMPARE(label3(), QLatin1String("File:") + dir->path());
    }

    // --- list files ---

    void openFile1ReplacesList1AndLeavesTheRestAlone()
    {
        openFirmware(write(QStringLiteral("fw.hex"), "keep\r\n"));
        const QString label = label3();
        openRecords(write(QStringLiteral("five.hex"), "1\r\n2\r\n3\r\n4\r\n5\r\n"));
        openRecords(write(QStringLiteral("two.hex"), "a\r\nb\r\n"));
        QCOMPARE(list1(), (QStringList{"a", "b"}));
        QCOMPARE(list2(), QStringList{"keep"});
        QCOMPARE(label3(), label);
        QCOMPARE(f->dialogs->shown.back().extra, RecordFilter);
        QCOMPARE(f->dialogs->shown.back().text, QStringLiteral("Open file..."));
    }

    void openFile1ReportsAMissingFile()
    {
        openRecords(dir->filePath(QStringLiteral("gone.hex")));
        QCOMPARE(f->dialogs->messages(), QStringList{InvalidFile});
    }

    void saveWritesNonEmptyItemsWithCrLf()
    {
        openFirmware(write(QStringLiteral("in.txt"), "A\r\n\r\nB"));
        QCOMPARE(list2(), (QStringList{"A", "", "B"}));
        const QString out = dir->filePath(QStringLiteral("out.hex"));
        f->dialogs->paths.push_back(out);
        f->click("Command3");
        QCOMPARE(read(out), QByteArray("A\r\nB\r\n"));
        QCOMPARE(f->dialogs->shown.back().kind, QStringLiteral("save"));
        QCOMPARE(f->dialogs->shown.back().text, QStringLiteral("Save file..."));
        QCOMPARE(f->dialogs->shown.back().extra, Save2Filter);
        QCOMPARE(list2(), (QStringList{"A", "", "B"})); // saving changes no list
    }

    void eachSaveButtonWritesItsOwnList()
    {
        openRecords(write(QStringLiteral("r.hex"), "records\r\n"));
        openFirmware(write(QStringLiteral("fw.hex"), "download\r\n"));
        // Loading the firmware emptied List1; load it again.
        openRecords(write(QStringLiteral("r.hex"), "records\r\n"));
        const QString one = dir->filePath(QStringLiteral("one.hex"));
        const QString two = dir->filePath(QStringLiteral("two.hex"));
        f->dialogs->paths.push_back(one);
        f->click("Command55");
        QCOMPARE(f->dialogs->shown.back().extra, Save1Filter);
        f->dialogs->paths.push_back(two);
        f->click("Command3");
        QCOMPARE(read(one), QByteArray("records\r\n"));
        QCOMPARE(read(two), QByteArray("download\r\n"));
    }

    void overwriteYesReplacesNoKeeps()
    {
        openFirmware(write(QStringLiteral("in.txt"), "new\r\n"));
        const QString out = write(QStringLiteral("out.hex"), "old content\r\n");

        f->dialogs->paths.push_back(out);
        f->dialogs->yesNoAnswers.push_back(false);
        f->click("Command3");
        QCOMPARE(f->dialogs->shown.back().kind, QStringLiteral("yesno"));
        QCOMPARE(f->dialogs->shown.back().text, QStringLiteral("Do you want to overwrite the file?"));
        QCOMPARE(f->dialogs->shown.back().extra, QStringLiteral("Save file"));
        QCOMPARE(read(out), QByteArray("old content\r\n"));

        f->dialogs->paths.push_back(out);
        f->dialogs->yesNoAnswers.push_back(true);
        f->click("Command3");
        QCOMPARE(read(out), QByteArray("new\r\n"));
    }

    void savingAnEmptyListOverAFileDeletesIt()
    {
        const QString out = write(QStringLiteral("out.hex"), "old\r\n");
        f->dialogs->paths.push_back(out);
        f->dialogs->yesNoAnswers.push_back(true);
        f->click("Command3");
        QVERIFY(!QFile::exists(out));
    }

    void savingToANewPathAsksNothing()
    {
        openFirmware(write(QStringLiteral("in.txt"), "x\r\n"));
        const QString out = dir->filePath(QStringLiteral("new.txt"));
        f->dialogs->paths.push_back(out);
        f->click("Command3");
        QCOMPARE(f->dialogs->shown.back().kind, QStringLiteral("save"));
        QCOMPARE(read(out), QByteArray("x\r\n"));
    }

    void cancelledSaveWritesNothing()
    {
        openFirmware(write(QStringLiteral("in.txt"), "x\r\n"));
        f->dialogs->paths.push_back(QString());
        f->click("Command3");
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"in.txt"});
    }

    void everyByteSurvivesLoadAndSave()
    {
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            if (b != '\r')
                bytes += char(b);
        bytes += "\r\nsecond\r\n";
        openRecords(write(QStringLiteral("bin.hex"), bytes));
        QCOMPARE(f->window->list1Items().count(), 2u);
        const QString out = dir->filePath(QStringLiteral("copy.hex"));
        f->dialogs->paths.push_back(out);
        f->click("Command55");
        QCOMPARE(read(out), bytes);
    }

    void saveAndReloadKeepsItemsInOrderWithoutEmptyOnes()
    {
        openFirmware(write(QStringLiteral("in.txt"), "1\r\n\r\n2\r3\r\n\r\n"));
        const QString out = dir->filePath(QStringLiteral("list.txt"));
        f->dialogs->paths.push_back(out);
        f->click("Command3");
        openRecords(out);
        QCOMPARE(list1(), (QStringList{"1", "2", "3"}));
    }

    void clearButtonsEmptyTheirOwnList()
    {
        openRecords(write(QStringLiteral("r.hex"), "r\r\n"));
        f->click("Command2"); // List2 now holds what List1 converts to: nothing
        openFirmware(write(QStringLiteral("fw.hex"), "fw\r\n"));
        openRecords(write(QStringLiteral("r.hex"), "r\r\n"));
        f->click("Command7");
        QVERIFY(list1().isEmpty());
        QCOMPARE(list2(), QStringList{"fw"});
        openRecords(write(QStringLiteral("r.hex"), "r\r\n"));
        f->click("Command6");
        QVERIFY(list2().isEmpty());
        QCOMPARE(list1(), QStringList{"r"});
    }

    // --- bad files through both loaders ---

    void badFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("button");
        for (const char *button : {"Command10", "Command54"})
            for (const char *kind : {"empty", "binary", "one 10 MB line", "unreadable", "folder", "removed"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(button), QLatin1String(kind))))
                    << QString::fromLatin1(kind) << QByteArray(button);
    }
    void badFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, button);
        openRecords(write(QStringLiteral("before.hex"), "old\r\n"));
        QString path;
        if (kind == QLatin1String("empty")) {
            path = write(QStringLiteral("empty.hex"), QByteArray());
        } else if (kind == QLatin1String("binary")) {
            QByteArray bytes(64 * 1024, '\0');
            quint32 x = 1;
            for (char &c : bytes)
                c = char((x = x * 1103515245u + 12345u) >> 24);
            path = write(QStringLiteral("binary.hex"), bytes);
        } else if (kind == QLatin1String("one 10 MB line")) {
            path = write(QStringLiteral("long.hex"), ":" + QByteArray(10 * 1024 * 1024, '0'));
        } else if (kind == QLatin1String("unreadable")) {
            path = QStringLiteral("/proc/self/mem"); // exists, and every read of it fails
        } else if (kind == QLatin1String("folder")) {
            path = dir->path();
        } else {
            path = write(QStringLiteral("gone.hex"), "x\r\n");
            f->dialogs->whileOpen = [path] { QFile::remove(path); };
        }
        f->dialogs->paths.push_back(path);
        f->click(button.constData());
        f->dialogs->whileOpen = nullptr;
        const auto &list = button == "Command10" ? f->window->list2Items() : f->window->list1Items();
        if (kind == QLatin1String("removed")) {
            QCOMPARE(f->dialogs->messages(), QStringList{InvalidFile});
            QCOMPARE(list1(), QStringList{"old"}); // nothing changed
            return;
        }
        QVERIFY(f->dialogs->messages().isEmpty());
        if (kind == QLatin1String("one 10 MB line")) {
            QCOMPARE(list.count(), std::size_t(1));
            QCOMPARE(list.lines().at(0).size(), std::size_t(10 * 1024 * 1024 + 1));
        } else if (kind != QLatin1String("binary")) {
            QCOMPARE(list.count(), std::size_t(0));
        }
        if (button == "Command10")
            QVERIFY(list1().isEmpty());
        // Whatever came in converts without harm: lines, or a message naming a line.
        openRecords(path);
        for (const char *convert : {"Command2", "Command14", "Command16"})
            f->click(convert);
        for (const QString &m : f->dialogs->messages())
            QVERIFY2(m.startsWith(QLatin1String("Line ")), qPrintable(m));
    }

    // --- conversions ---

    void conversions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("line");
        QTest::newRow("Fmt_O_data") << "Command2"
                                    << ":O000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;";
        QTest::newRow("Fmt_W_data") << "Command14"
                                    << ":W000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;";
        QTest::newRow("Fmt_PW_data") << "Command16"
                                     << ":W000120000102030405060708090A0B0C0D0E0F101112131415E97118191A1B1C1D1E1F63B2;";
    }
    void conversions()
    {
        QFETCH(QString, button);
        QFETCH(QString, line);
        openFirmware(write(QStringLiteral("old.txt"), "replaced\r\n"));
        openRecords(write(QStringLiteral("r.hex"), WorkedExample));
        f->click(qPrintable(button));
        QCOMPARE(list2(), QStringList{line});
        QCOMPARE(list1().size(), 3); // the records stay
        QVERIFY(f->dialogs->messages().isEmpty());

        // Converting again gives the same line: nothing is carried over from the run before.
        f->click(qPrintable(button));
        QCOMPARE(list2(), QStringList{line});
    }

    void refusedRecordStopsWithAMessageAndKeepsEarlierLines()
    {
        QByteArray records;
        for (int i = 0; i < 8; ++i)
            records += ":10000000000102030405060708090A0B0C0D0E0F78\r\n";
        records += ":FF001000101112131415161718191A1B1C1D1E1F68\r\n"; // 255 data bytes promised
        records += ":00000001FF\r\n";
        openRecords(write(QStringLiteral("bad.hex"), records));
        f->click("Command14");
        QCOMPARE(list2().size(), 1);
        QVERIFY(list2().first().startsWith(QLatin1String(":W000180")));
        const QStringList messages = f->dialogs->messages();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0], QStringLiteral("Line 9: record length 255 is above the limit of 125."));
    }
};

QTEST_MAIN(WindowFiles)
#include "test_window_files.moc"

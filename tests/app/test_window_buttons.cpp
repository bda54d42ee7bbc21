// The window's file, list and update buttons, with fake links and dialogs the test answers.
#include "support/windowfixture.h"
#include "sim/bootloader.h"
#include "support/cliprocess.h"
#include "support/testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace morven;

namespace {
const QString InvalidFile = QStringLiteral("Invalid file name,please re open the file!");

QStringList items(const LineListModel &list)
{
    QStringList out;
    for (std::size_t i = 0; i < list.count(); ++i)
        out << QString::fromLatin1(list.lines().at(i).data(), qsizetype(list.lines().at(i).size()));
    return out;
}

// A target reply, as the simulated target builds it.
QByteArray reply(char letter, std::uint16_t seq, std::uint8_t status)
{
    return QByteArray::fromStdString(sim::Bootloader::reply(letter, seq, status));
}
} // namespace

// How lines are split, saved and converted is proven by the core and morvenctl tests, whole
// updates against the simulated target by the e2e tests; here is what the window adds.
class WindowButtons : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::FakeLinkWindow> f;
    std::unique_ptr<QTemporaryDir> dir;
    int files = 0;

    QString write(const QByteArray &bytes) { return test::writeFile(dir->filePath(QString::number(++files)), bytes); }
    // A download list of numbered lines: "L0", "L1", ...
    QString firmware(int lines)
    {
        QByteArray text;
        for (int i = 0; i < lines; ++i)
            text += "L" + QByteArray::number(i) + "\r\n";
        return write(text);
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // Presses `button` and answers its file dialog with `path`; returns what the dialog showed.
    QString choose(const char *button, const QString &path)
    {
        f->dialogs->paths.push_back(path);
        f->click(button);
        const auto &d = f->dialogs->shown.back();
        return d.kind + QLatin1Char(' ') + d.text + QLatin1Char(' ') + d.extra;
    }
    QStringList list1() const { return items(f->window->list1Items()); }
    QStringList list2() const { return items(f->window->list2Items()); }
    QString label3() const { return f->control<QLabel>("Label3")->text(); }

private slots:
    void init()
    {
        f = std::make_unique<test::FakeLinkWindow>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup()
    {
        QVERIFY(f->socket->refused.isEmpty());
        f.reset();
        dir.reset();
    }

    // "Open file" adds the lines (a CR ends one, a LF alone does not) to the download list,
    // empties the record list and shows the path; "Open file1" replaces the record list.
    void openFileAddsOpenFile1Replaces()
    {
        QCOMPARE(choose("Command54", write("r\r\n")),
            "open Open file... HEX file(*.HEX)|*.HEX|txt file(*.txt)|*.txt|all file(*.*)|*.*||");
        choose("Command54", write("a\r\nb\r\n"));
        QCOMPARE(list1(), (QStringList{"a", "b"}));
        const QString path = write("one\r\ntwo\nx\rthree");
        choose("Command10", path);
        QCOMPARE(choose("Command10", path),
            "open Open file... ZMA file(*.ZMA)|*.ZMA|ZMB file(*.ZMB)|*.ZMB|HEX file(*.HEX)|*.HEX|"
            "txt file(*.txt)|*.txt|all file(*.*)|*.*||");
        QCOMPARE(list2(), (QStringList{"one", "two\nx", "three", "one", "two\nx", "three"}));
        QVERIFY(list1().isEmpty());
        QCOMPARE(label3(), QLatin1String("File:") + path);
        QVERIFY(f->dialogs->messages().isEmpty());
    }

    // The file dialog's filters as Qt's dialog gets them: "all file" shows every file, one
    // without a dot in its name too; the others match their extension in either case.
    void fileDialogFilters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("shownUnder");
        QTest::newRow("no extension") << "controller" << QStringList{"all file"};
        QTest::newRow("upper case") << "fw.ZMA" << QStringList{"ZMA file", "all file"};
        QTest::newRow("lower case") << "fw.hex" << QStringList{"HEX file", "all file"};
        QTest::newRow("two dots") << "fw.v2.txt" << QStringList{"txt file", "all file"};
        QTest::newRow("other extension") << "fw.bin" << QStringList{"all file"};
    }
    void fileDialogFilters()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, shownUnder);
        QStringList shown;
        for (const QString &filter :
            nameFiltersFromBarList("ZMA file(*.ZMA)|*.ZMA|ZMB file(*.ZMB)|*.ZMB|"
                                   "HEX file(*.HEX)|*.HEX|txt file(*.txt)|*.txt|all file(*.*)|*.*||")) {
            // "HEX file(*.HEX) (*.HEX *.hex)": the description, then the patterns in brackets.
            const QStringList patterns = filter.section(QLatin1Char('('), -1).chopped(1).split(QLatin1Char(' '));
            for (const QString &pattern : patterns)
                if (QRegularExpression(
                        QRegularExpression::anchoredPattern(QRegularExpression::wildcardToRegularExpression(
                            pattern, QRegularExpression::UnanchoredWildcardConversion)))
                        .match(name)
                        .hasMatch()) {
                    shown << filter.left(filter.indexOf(QLatin1Char('(')));
                    break;
                }
        }
        QCOMPARE(shown, shownUnder);
    }

    // What each loader does with a file that is not what it should be.
    void oddFiles_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("kind");
        for (const char *button : {"Command10", "Command54"})
            for (const char *kind :
                {"cancelled", "missing", "removed while choosing", "folder", "unreadable", "one 10 MB line"})
                QTest::addRow("%s %s", button, kind) << QByteArray(button) << QString::fromLatin1(kind);
    }
    void oddFiles()
    {
        QFETCH(QByteArray, button);
        QFETCH(QString, kind);
        const bool toList2 = button == "Command10";
        choose("Command54", write("old\r\n"));
        QString path = dir->filePath(QStringLiteral("nothing.hex"));
        if (kind == QLatin1String("cancelled"))
            path.clear();
        else if (kind == QLatin1String("removed while choosing"))
            f->dialogs->whileOpen = [gone = path = write("x\r\n")] { QFile::remove(gone); };
        else if (kind == QLatin1String("folder"))
            path = dir->path();
        else if (kind == QLatin1String("unreadable"))
            path = QStringLiteral("/proc/self/mem"); // exists, and every read of it fails
        else if (kind == QLatin1String("one 10 MB line"))
            path = write(":" + QByteArray(10 * 1024 * 1024, '0'));
        choose(button.constData(), path);
        const bool refused = kind == QLatin1String("missing") || kind.startsWith(QLatin1String("removed"));
        QCOMPARE(f->dialogs->messages(), refused ? QStringList{InvalidFile} : QStringList{});
        if (refused || path.isEmpty()) {
            QCOMPARE(list1(), QStringList{"old"}); // nothing changed
            QCOMPARE(label3(), QStringLiteral("File:"));
            return;
        }
        const LineListModel &list = toList2 ? f->window->list2Items() : f->window->list1Items();
        const bool longLine = kind == QLatin1String("one 10 MB line");
        QCOMPARE(list.count(), std::size_t(longLine ? 1 : 0));
        if (longLine)
            QCOMPARE(list.lines().at(0).size(), std::size_t(10 * 1024 * 1024 + 1));
        QCOMPARE(label3(), toList2 ? QLatin1String("File:") + path : QStringLiteral("File:"));
        if (toList2)
            QVERIFY(list1().isEmpty());
    }

    // Each save button writes its own list: the non-empty items with CR LF, every byte kept;
    // each clear button empties its own list.
    void saveAndClearTheirOwnList()
    {
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            if (b != '\r')
                bytes += char(b);
        choose("Command10", write("A\r\n\r\nB"));
        choose("Command54", write(bytes + "\r\n\r\nsecond"));
        const QString one = dir->filePath(QStringLiteral("one.hex")), two = dir->filePath(QStringLiteral("two.hex"));
        QCOMPARE(choose("Command55", one),
            "save Save file... HEX file(*.HEX)|*.HEX|TXT file(*.TXT)|*.TXT|all file(*.*)|*.*||");
        QCOMPARE(
            choose("Command3", two), "save Save file... file(*.HEX)|*.HEX|TXT file(*.TXT)|*.TXT|all file(*.*)|*.*||");
        QCOMPARE(read(one), bytes + "\r\nsecond\r\n");
        QCOMPARE(read(two), QByteArray("A\r\nB\r\n"));
        QCOMPARE(list2(), (QStringList{"A", "", "B"})); // saving changes no list
        f->click("Command7");
        QVERIFY(list1().isEmpty());
        QCOMPARE(list2().size(), 3);
        choose("Command54", one);
        f->click("Command6");
        QVERIFY(list2().isEmpty());
        QCOMPARE(list1().size(), 2);
    }

    // Over an existing file the operator is asked; "yes" replaces it, an empty list deletes it.
    void saveOverAFile_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QList<bool>>("answers"); // none: the save dialog is cancelled
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("yes") << QByteArray("new\r\n") << QList<bool>{true} << QByteArray("new\r\n");
        QTest::newRow("no") << QByteArray("new\r\n") << QList<bool>{false} << QByteArray("old\r\n");
        QTest::newRow("cancelled") << QByteArray("new\r\n") << QList<bool>{} << QByteArray("old\r\n");
        QTest::newRow("empty list") << QByteArray() << QList<bool>{true} << QByteArray("<missing>");
    }
    void saveOverAFile()
    {
        QFETCH(QByteArray, list);
        QFETCH(QList<bool>, answers);
        QFETCH(QByteArray, after);
        choose("Command10", write(list));
        const QString out = write("old\r\n");
        f->dialogs->yesNoAnswers.assign(answers.begin(), answers.end());
        const QString asked = choose("Command3", answers.isEmpty() ? QString() : out);
        if (!answers.isEmpty())
            QCOMPARE(asked, "yesno Do you want to overwrite the file? Save file");
        QCOMPARE(read(out), after);
    }

    // A conversion replaces the download list and keeps the records, the same line each run; a
    // refused record stops it with a message naming its line, and the lines before it stay.
    void conversions()
    {
        const QByteArray record = ":10000000000102030405060708090A0B0C0D0E0F78\r\n";
        choose("Command54", write(record + ":10001000101112131415161718191A1B1C1D1E1F68\r\n:00000001FF\r\n"));
        const QStringList line{":W000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;"};
        f->click("Command14");
        f->click("Command14");
        QCOMPARE(list2(), line);
        QCOMPARE(list1().size(), 3);
        QVERIFY(f->dialogs->messages().isEmpty());
        // 255 data bytes promised in line 9
        choose("Command54", write(record.repeated(8) + ":FF00100010111213\r\n:00000001FF\r\n"));
        f->click("Command2");
        QCOMPARE(list2().size(), 1);
        QVERIFY(list2().first().startsWith(QLatin1String(":O000180")));
        QCOMPARE(f->dialogs->messages(), QStringList{"Line 9: record length 255 is above the limit of 125."});
    }

    // Frames go out on the selected link only; a network batch is taken whole, however long. (Serial
    // replies, whole and in pieces, are read in the e2e tests.)
    void sendingAndReceiving()
    {
        f->click("Command12"); // the fake port always opens
        f->click("Command13");
        QCOMPARE(f->serial->written, QByteArray(":U;"));
        f->serial->event = SerialComponent::Receive; // Timer1 reads it once, then stops
        f->serial->incoming = reply('K', 0, 3);
        emit f->serial->commEvent();
        QVERIFY(QTest::qWaitFor([&] { return !f->dialogs->messages().isEmpty(); }, 5000));
        QVERIFY(!f->timer("Timer1")->isEnabled());
        f->click("Option1");
        f->aimAt(7776);
        f->click("Command32");
        f->socket->completeConnection();
        f->click("Command8");
        QCOMPARE(f->socket->sent, QByteArray(":K00000101C074;"));
        QCOMPARE(f->serial->written, QByteArray(":U;"));
        f->socket->deliver(reply('K', 0, 3) + QByteArray(40000, 'x'));
        QVERIFY(QTest::qWaitFor([&] { return !f->timer("Timer5")->isEnabled(); }, 5000));
        QCOMPARE(f->socket->incoming.size(), 0);
        QCOMPARE(f->dialogs->messages(), (QStringList{"Erase flash success!", "Erase flash success!"}));
    }

    // A reply's message: user program stops the probe, a failed erase does not. (The other
    // replies are shown in the e2e tests.)
    void repliesToTheProbe()
    {
        const int closes = f->socket->closes;
        f->click("Command5");
        QCOMPARE(f->socket->closes, closes + 1); // "Update mode" closes the network link whichever is chosen
        QVERIFY(f->timer("Timer4")->isEnabled());
        f->window->CommRec(reply('K', 0, 0), 17);
        QVERIFY(f->timer("Timer4")->isEnabled());
        f->window->CommRec(reply('S', 0, 0), 17);
        QVERIFY(!f->timer("Timer4")->isEnabled());
        QCOMPARE(f->dialogs->messages(),
            (QStringList{"Please power up!", "Erase flash failure,please try again!", "Run user program!"}));
    }

    // With the TCP link down the probe closes it, pauses just over a tenth of a second while
    // other events go on, and connects again.
    void probePausesWhileEventsGoOn()
    {
        f->click("Option1");
        f->aimAt(7776);
        bool ranInPause = false;
        QObject watching; // no late call into this function's variables, also when a check fails
        QTimer::singleShot(20, &watching, [&] { ranInPause = f->socket->attempts.isEmpty(); });
        QElapsedTimer clock;
        clock.start();
        f->window->Timer4_Timer();
        QVERIFY(clock.elapsed() > 100);
        QVERIFY(ranInPause);
        QCOMPARE(f->socket->attempts.size(), 1);
    }

    // Erase flash and Download stop the probe, Erase data and O Download do not; Download of an
    // empty list asks for a file first and goes on with the file chosen.
    void commands_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<int>("chosen"); // lines in the file chosen when asked; 0: none chosen
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("probing");
        QTest::newRow("Erase flash") << QByteArray("Command15") << 0 << QByteArray(":K000001028075;") << false;
        QTest::newRow("Erase data") << QByteArray("Command8") << 0 << QByteArray(":K00000101C074;") << true;
        QTest::newRow("Download, a file chosen")
            << QByteArray("Command4") << 1 << QByteArray(":W00000200014400;") << false;
        QTest::newRow("Download, none chosen") << QByteArray("Command4") << 0 << QByteArray() << false;
        QTest::newRow("O Download, empty list")
            << QByteArray("Command1") << 0 << QByteArray(":O000002000085C0;") << true;
    }
    void commands()
    {
        QFETCH(QByteArray, button);
        QFETCH(int, chosen);
        QFETCH(QByteArray, sent);
        QFETCH(bool, probing);
        f->click("Command12");
        f->click("Command5");
        if (chosen)
            f->dialogs->paths.push_back(firmware(chosen));
        f->click(button.constData());
        QCOMPARE(f->timer("Timer4")->isEnabled(), probing);
        QCOMPARE(f->serial->written, sent);
        const bool asked = button == "Command4";
        QCOMPARE(f->dialogs->messages().contains(QStringLiteral("Please open the file to download!")), asked);
        QCOMPARE(f->dialogs->shown.back().kind, asked ? QStringLiteral("open") : QStringLiteral("message"));
    }

    // The line index is a 16-bit number: a longer list is refused before anything is sent.
    void tooLongAListIsNotAnnounced()
    {
        f->click("Command12");
        f->dialogs->paths.push_back(firmware(32768));
        f->click("Command10");
        f->click("Command1");
        QCOMPARE(f->serial->written, QByteArray());
        QCOMPARE(f->dialogs->messages(),
            QStringList{"The download list holds 32768 lines; one download can send at most 32767."});
    }
};
MORVEN_TEST_CLASS(WindowButtons)
#include "test_window_buttons.moc"

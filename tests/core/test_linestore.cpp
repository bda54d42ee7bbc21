// The compact line list: splitting a file's bytes into lines, and the text a list saves as.
#include "linestore.h"
#include "testutil.h"

#include <QtTest>

#include <random>

using morven::LineStore;
using testutil::qb;

namespace {

QList<QByteArray> items(const LineStore &store)
{
    QList<QByteArray> out;
    for (std::size_t i = 0; i < store.size(); ++i)
        out << qb(store.at(i));
    return out;
}

LineStore storeOf(const QList<QByteArray> &lines)
{
    LineStore store;
    for (const QByteArray &l : lines)
        store.append(std::string_view(l.constData(), static_cast<std::size_t>(l.size())));
    return store;
}

} // namespace

class TestLineStore : public QObject
{
    Q_OBJECT

private slots:
    void basics()
    {
        LineStore store;
        QVERIFY(store.empty());
        QCOMPARE(store.size(), std::size_t(0));
        store.append("first");
        store.append("");
        store.append(std::string_view("a\0b", 3));
        QVERIFY(!store.empty());
        QCOMPARE(store.size(), std::size_t(3));
        QCOMPARE(qb(store.at(0)), QByteArray("first"));
        QCOMPARE(qb(store.at(1)), QByteArray());
        QCOMPARE(qb(store[2]), QByteArray("a\0b", 3));
        QCOMPARE(store.byteSize(), std::size_t(8));
        store.clear();
        QVERIFY(store.empty());
        QCOMPARE(store.byteSize(), std::size_t(0));
        store.reserve(10, 100);
        store.append("again");
        QCOMPARE(items(store), QList<QByteArray>{"again"});
    }

    // CR or CR LF ends a line; LF alone stays in the line; no empty item after a final
    // terminator.
    void splitFileBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QByteArray>>("expected");
        using L = QList<QByteArray>;
        QTest::newRow("empty") << QByteArray() << L{};
        QTest::newRow("one line, no end") << QByteArray("A") << L{"A"};
        QTest::newRow("three lines, last without end") << QByteArray("A\r\nB\r\nC") << L{"A", "B", "C"};
        QTest::newRow("CR LF at the end") << QByteArray("A\r\nB\r\n") << L{"A", "B"};
        QTest::newRow("CR alone") << QByteArray("A\rB\r") << L{"A", "B"};
        QTest::newRow("LF alone stays inside") << QByteArray("A\nB\nC\n") << L{"A\nB\nC\n"};
        QTest::newRow("LF then CR") << QByteArray("A\n\rB") << L{"A\n", "B"};
        QTest::newRow("CR LF LF") << QByteArray("A\r\n\nB") << L{"A", "\nB"};
        QTest::newRow("empty line in the middle") << QByteArray("A\r\n\r\nB") << L{"A", "", "B"};
        QTest::newRow("CR CR") << QByteArray("A\r\rB") << L{"A", "", "B"};
        QTest::newRow("only a terminator") << QByteArray("\r\n") << L{""};
        QTest::newRow("two terminators") << QByteArray("\r\n\r") << L{"", ""};
        QTest::newRow("empty line at the end") << QByteArray("A\r\n\r\n") << L{"A", ""};
        QTest::newRow("only LF") << QByteArray("\n") << L{"\n"};
        QTest::newRow("NUL and high bytes")
            << QByteArray("\0\x80\xFF\r\nx\0\xE9", 8) << L{QByteArray("\0\x80\xFF", 3), QByteArray("x\0\xE9", 3)};
    }

    void splitFileBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QByteArray>, expected);

        LineStore viewed;
        viewed.appendFileBytes(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        QCOMPARE(items(viewed), expected);

        LineStore moved;
        moved.appendFileBytes(testutil::str(bytes));
        QCOMPARE(items(moved), expected);

        // Into a list that already holds lines: they stay in front.
        LineStore grown = storeOf({"old", ""});
        grown.appendFileBytes(testutil::str(bytes));
        QCOMPARE(items(grown), QList<QByteArray>({"old", ""}) + expected);
    }

    void loadingTwiceKeepsBothCopies()
    {
        const std::string file = ":A\r\n:B\r\n";
        LineStore store;
        store.appendFileBytes(std::string(file));
        store.appendFileBytes(std::string_view(file));
        QCOMPARE(items(store), (QList<QByteArray>{":A", ":B", ":A", ":B"}));
    }

    // A big file is split inside its own buffer instead of being copied.
    void bigFileSplitsInPlace()
    {
        std::string file;
        const std::string line = ":10000000000102030405060708090A0B0C0D0E0F78";
        for (int i = 0; i < 100000; ++i) {
            file += line;
            file += (i % 3 == 0) ? "\r" : "\r\n";
        }
        const char *buffer = file.data();
        LineStore store;
        store.appendFileBytes(std::move(file));
        QCOMPARE(store.size(), std::size_t(100000));
        QCOMPARE(store.byteSize(), line.size() * 100000);
        QCOMPARE(static_cast<const void *>(store.at(0).data()), static_cast<const void *>(buffer));
        QCOMPARE(qb(store.at(0)), qb(line));
        QCOMPARE(qb(store.at(99999)), qb(line));
        QCOMPARE(qb(store.at(4711)), qb(line));
    }

    void saveSkipsEmptyItems()
    {
        const LineStore store = storeOf({"A", "", "B"});
        const std::string text = morven::saveText(store);
        QCOMPARE(qb(text), QByteArray("A\r\nB\r\n"));
        QCOMPARE(text.size(), std::size_t(6));
    }

    void saveOfNothingWritesNothing()
    {
        int calls = 0;
        auto count = [&](std::string_view) { ++calls; };
        morven::writeItems(LineStore(), count);
        morven::writeItems(storeOf({"", "", ""}), count);
        QCOMPARE(calls, 0);
        QCOMPARE(qb(morven::saveText(storeOf({"", ""}))), QByteArray());
    }

    void saveWritesItemsUnchanged()
    {
        const LineStore store = storeOf({QByteArray(" lead and trail "), QByteArray("x\0\xFF\n", 4)});
        QCOMPARE(qb(morven::saveText(store)), QByteArray(" lead and trail \r\nx\0\xFF\n\r\n", 24));
    }

    void writerBatchesConcatenateToTheWholeText()
    {
        LineStore store;
        std::mt19937 rng(5);
        for (int i = 0; i < 5000; ++i)
            store.append(std::string(rng() % 40, static_cast<char>('a' + i % 26)));
        std::string joined;
        std::size_t pieces = 0;
        morven::writeItems(
            store,
            [&](std::string_view piece) {
                QVERIFY(!piece.empty());
                QVERIFY(piece.size() <= 1000);
                joined.append(piece);
                ++pieces;
            },
            1000);
        QVERIFY(pieces > 50);
        QCOMPARE(qb(joined), qb(morven::saveText(store)));

        // An item larger than a batch still goes out whole, in order.
        const LineStore big = storeOf({"x", QByteArray(3000, 'y'), "z"});
        std::string out;
        morven::writeItems(
            big, [&](std::string_view piece) { out.append(piece); }, 100);
        QCOMPARE(qb(out), "x\r\n" + QByteArray(3000, 'y') + "\r\nz\r\n");
    }

    // Saved and loaded again: the same items in the same order, without the empty ones.
    void saveAndReloadRoundTrip()
    {
        std::mt19937 rng(2024);
        QList<QByteArray> original;
        QList<QByteArray> nonEmpty;
        for (int i = 0; i < 2000; ++i) {
            QByteArray item;
            const int len = (rng() % 5 == 0) ? 0 : int(rng() % 60);
            for (int c = 0; c < len; ++c) {
                char ch = static_cast<char>(rng() % 256);
                if (ch == '\r')
                    ch = '\n'; // a loaded item never holds a CR
                item += ch;
            }
            original << item;
            if (!item.isEmpty())
                nonEmpty << item;
        }
        LineStore reloaded;
        reloaded.appendFileBytes(morven::saveText(storeOf(original)));
        QCOMPARE(items(reloaded), nonEmpty);
    }
};

QTEST_APPLESS_MAIN(TestLineStore)
#include "test_linestore.moc"

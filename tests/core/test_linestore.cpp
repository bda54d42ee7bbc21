// The compact line list: splitting a file's bytes into lines, and the text a list saves as.
#include "records/linestore.h"
#include "core/testutil.h"

#include <QtTest>

#include <random>

using morven::LineStore;
using testutil::qb;
using L = QList<QByteArray>;

namespace {

L items(const LineStore &store)
{
    L out;
    for (std::size_t i = 0; i < store.size(); ++i)
        out << qb(store.at(i));
    return out;
}

LineStore storeOf(const L &lines)
{
    LineStore store;
    for (const QByteArray &l : lines)
        store.append(testutil::str(l));
    return store;
}

} // namespace

class TestLineStore : public QObject
{
    Q_OBJECT

private slots:
    void basics()
    {
        LineStore store = storeOf({"first", "", QByteArray("a\0b", 3)});
        QCOMPARE(qb(store[2]), QByteArray("a\0b", 3));
        QCOMPARE(items(store), (L{"first", "", QByteArray("a\0b", 3)}));
        QCOMPARE(store.byteSize(), std::size_t(8));
        store.clear();
        QVERIFY(store.empty());
        QCOMPARE(store.byteSize(), std::size_t(0));
        store.reserve(10, 100);
        store.append("again");
        QCOMPARE(items(store), L{"again"});
    }

    // CR or CR LF ends a line; LF alone stays in the line; no empty item after a final
    // terminator.
    void splitFileBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<L>("expected");
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
        QTest::newRow("NUL and high bytes")
            << QByteArray("\0\x80\xFF\r\nx\0\xE9", 8) << L{QByteArray("\0\x80\xFF", 3), QByteArray("x\0\xE9", 3)};
    }

    void splitFileBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(L, expected);
        // Viewed or moved in; into a list that already holds lines, they stay in front.
        for (const L &before : {L{}, L{"old", ""}}) {
            LineStore viewed = storeOf(before);
            viewed.appendFileBytes(std::string_view(bytes.constData(), std::size_t(bytes.size())));
            QCOMPARE(items(viewed), before + expected);
            LineStore moved = storeOf(before);
            moved.appendFileBytes(testutil::str(bytes));
            QCOMPARE(items(moved), before + expected);
        }
    }

    // A big file is split inside its own buffer instead of being copied.
    void bigFileSplitsInPlace()
    {
        std::string file;
        const std::string line = ":10000000000102030405060708090A0B0C0D0E0F78";
        for (int i = 0; i < 100000; ++i)
            file += line + (i % 3 == 0 ? "\r" : "\r\n");
        const char *buffer = file.data();
        LineStore store;
        store.appendFileBytes(std::move(file));
        QCOMPARE(store.size(), std::size_t(100000));
        QCOMPARE(store.byteSize(), line.size() * 100000);
        QCOMPARE(static_cast<const void *>(store.at(0).data()), static_cast<const void *>(buffer));
        for (std::size_t i : {0, 4711, 99999})
            QCOMPARE(qb(store.at(i)), qb(line));
    }

    // Every non-empty item unchanged and CR LF after it; empty items are left out, and a list
    // without non-empty items writes nothing at all.
    void save_data()
    {
        QTest::addColumn<L>("list");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty items skipped") << L{"A", "", "B"} << QByteArray("A\r\nB\r\n");
        QTest::newRow("nothing") << L{} << QByteArray();
        QTest::newRow("only empty items") << L{"", "", ""} << QByteArray();
        QTest::newRow("items unchanged") << L{" lead and trail ", QByteArray("x\0\xFF\n", 4)}
                                         << QByteArray(" lead and trail \r\nx\0\xFF\n\r\n", 24);
    }

    void save()
    {
        QFETCH(L, list);
        QFETCH(QByteArray, text);
        int calls = 0;
        morven::writeItems(storeOf(list), [&](std::string_view) { ++calls; });
        QCOMPARE(calls, text.isEmpty() ? 0 : 1);
        QCOMPARE(qb(morven::saveText(storeOf(list))), text);
    }

    void writerBatchesConcatenateToTheWholeText()
    {
        LineStore store;
        std::mt19937 rng(5); // lengths 0 .. 39, so some batches end one or two bytes short of the limit
        for (int i = 0; i < 5000; ++i)
            store.append(std::string(rng() % 40, static_cast<char>('a' + i % 26)));
        std::string joined;
        std::size_t pieces = 0;
        morven::writeItems(
            store,
            [&](std::string_view piece) {
                QVERIFY(!piece.empty() && piece.size() <= 1000);
                joined.append(piece);
                ++pieces;
            },
            1000);
        QVERIFY(pieces > 50);
        QCOMPARE(qb(joined), qb(morven::saveText(store)));

        // An item larger than a batch still goes out whole, in order.
        std::string out;
        morven::writeItems(
            storeOf({"x", QByteArray(3000, 'y'), "z"}), [&](std::string_view piece) { out.append(piece); }, 100);
        QCOMPARE(qb(out), "x\r\n" + QByteArray(3000, 'y') + "\r\nz\r\n");
    }
};

QTEST_APPLESS_MAIN(TestLineStore)
#include "test_linestore.moc"

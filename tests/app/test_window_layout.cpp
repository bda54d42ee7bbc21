// The window as it comes up: every control with its name, caption, place and default.
#include "app/windowfixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

using namespace morven;

namespace {
QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return QString();
}
} // namespace

class WindowLayout : public QObject
{
    Q_OBJECT
private slots:
    void controls_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<bool>("inFrame");
        auto row
            = [](const char *name, const char *kind, const char *caption, int x, int y, int w, int h, bool inFrame) {
                  QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(caption) << QRect(x, y, w, h)
                                      << inFrame;
              };
        row("Frame4", "QGroupBox", "Connect driver configuration", 26, 14, 379, 154, false);
        row("Option1", "QRadioButton", "NET LINK", 24, 24, 81, 17, true);
        row("Label9", "QLabel", "IP address:", 112, 27, 66, 12, true);
        // The default host is only read here; the test sockets refuse to connect to it.
        row("IP_Addr", "QLineEdit", "192.168.0.50", 180, 24, 111, 18, true);
        row("Shape11", "morven::Lamp", "", 320, 24, 17, 19, true);
        row("Label10", "QLabel", "Port:", 146, 52, 30, 14, true);
        row("IP_Port", "QLineEdit", "7776", 178, 50, 41, 18, true);
        row("Command32", "QPushButton", "connect", 232, 48, 57, 22, true);
        row("Command33", "QPushButton", "close", 304, 48, 53, 22, true);
        row("Option2", "QRadioButton", "COMM PORT", 24, 96, 81, 17, true);
        row("Label1", "QLabel", "PORT NO:", 128, 98, 48, 12, true);
        row("COM_PORT", "QLineEdit", "1", 176, 95, 71, 18, true);
        row("Command12", "QPushButton", "Open port", 264, 96, 81, 20, true);
        row("Label2", "QLabel", "BITRATE:", 128, 124, 48, 12, true);
        row("Combo2", "QComboBox", "9600", 176, 120, 73, 20, true);
        row("Command11", "QPushButton", "Close port", 264, 120, 81, 20, true);
        row("Command10", "QPushButton", "Open file", 424, 16, 105, 33, false);
        row("Command5", "QPushButton", "Update mode", 424, 56, 105, 33, false);
        row("Command15", "QPushButton", "Erase flash", 424, 96, 105, 33, false);
        row("Command4", "QPushButton", "Download", 424, 136, 105, 33, false);
        row("Command13", "QPushButton", "Link test", 616, 104, 89, 25, false);
        row("ProgressBar1", "QProgressBar", "", 24, 176, 497, 25, false);
        row("Label3", "QLabel", "File:", 24, 208, 497, 17, false);
        row("Command3", "QPushButton", "2Save as", 592, 328, 81, 25, false);
        row("Command6", "QPushButton", "Clear2", 688, 328, 81, 25, false);
        row("Command54", "QPushButton", "Open file1", 16, 352, 75, 25, false);
        row("Command2", "QPushButton", "Fmt_O_data", 88, 352, 81, 25, false);
        row("Command14", "QPushButton", "Fmt_W_data", 168, 352, 81, 25, false);
        row("Command16", "QPushButton", "Fmt_PW_data", 248, 352, 81, 25, false);
        row("Command7", "QPushButton", "Clear1", 328, 352, 73, 25, false);
        row("Command55", "QPushButton", "1Save as", 400, 352, 73, 25, false);
        row("Command1", "QPushButton", "O Downlaod", 488, 352, 105, 33, false);
        row("Command8", "QPushButton", "Erase data", 592, 352, 97, 25, false);
        row("Command9", "QPushButton", "Verify crc", 704, 352, 73, 25, false);
        row("List1", "QListView", "", 16, 392, 381, 412, false);
        row("List2", "QListView", "", 416, 392, 381, 412, false);
    }
    void controls()
    {
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QRect, place);
        QFETCH(bool, inFrame);
        test::WindowFixture f;
        QWidget *w = f.control(QTest::currentDataTag());
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
        QCOMPARE(captionOf(w), caption);
        QCOMPARE(w->geometry(), place);
        QCOMPARE(w->parentWidget()->objectName(), inFrame ? QStringLiteral("Frame4") : QStringLiteral("client"));
    }

    void windowHoldsEveryControlAndNoMore()
    {
        test::WindowFixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("MORVEN UPDATE TOOL V1.16"));
        QWidget *client = f.control("client");
        QRect used;
        for (QWidget *w : client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            used |= w->geometry();
        QCOMPARE(used.bottomRight(), QPoint(796, 803));
        QVERIFY(client->width() >= 797 && client->width() <= 797 + 24);
        QVERIFY(client->height() >= 804 && client->height() <= 804 + 24);
    }

    void line1SeparatesTheTwoLinks()
    {
        test::WindowFixture f;
        auto *line = f.control<QFrame>("Line1");
        QCOMPARE(line->frameShape(), QFrame::HLine);
        QCOMPARE(line->y(), 80);
    }

    void bitRatesInOrder()
    {
        test::WindowFixture f;
        auto *combo = f.control<QComboBox>("Combo2");
        QStringList rates;
        for (int i = 0; i < combo->count(); ++i)
            rates << combo->itemText(i);
        QCOMPARE(rates,
            (QStringList{"300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600",
                "115200", "128000"}));
        QVERIFY(combo->isEditable());
        // The list points at the shown rate, so stepping down goes to the next rate.
        QCOMPARE(combo->currentIndex(), rates.indexOf("9600"));
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("14400"));
    }

    void fieldsCarryTheirLabelsForScreenReaders_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("IP_Addr") << "IP address:";
        QTest::newRow("IP_Port") << "Port:";
        QTest::newRow("COM_PORT") << "PORT NO:";
        QTest::newRow("Combo2") << "BITRATE:";
    }
    void fieldsCarryTheirLabelsForScreenReaders()
    {
        QFETCH(QString, label);
        test::WindowFixture f;
        QWidget *w = f.control(QTest::currentDataTag());
        QCOMPARE(w->accessibleName(), label);
        if (auto *combo = qobject_cast<QComboBox *>(w))
            w = combo->lineEdit();
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), label);
    }

    void optionsAndLampAtStart()
    {
        test::WindowFixture f;
        QVERIFY(f.control<QRadioButton>("Option2")->isChecked());
        QVERIFY(!f.control<QRadioButton>("Option1")->isChecked());
        QCOMPARE(f.lamp(), QRgb(0x808080));
        // A 17 px circle in the middle of its 17 x 19 box: the painted pixels span rows 1 to 17.
        auto *lamp = f.control<Lamp>("Shape11");
        QImage shot(lamp->size(), QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        lamp->render(&shot, QPoint(), QRegion(), {});
        QRect painted;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (qAlpha(shot.pixel(x, y)) >= 128)
                    painted |= QRect(x, y, 1, 1);
        QCOMPARE(painted, QRect(0, 1, 17, 17));
        QCOMPARE(shot.pixel(8, 9), qRgb(0x80, 0x80, 0x80));
        auto *bar = f.control<QProgressBar>("ProgressBar1");
        QCOMPARE(bar->value(), 0);
    }

    void timersAtStart_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("interval");
        QTest::newRow("Timer1") << false << 50;
        QTest::newRow("Timer2") << false << 50;
        QTest::newRow("Timer3") << true << 0;
        QTest::newRow("Timer4") << false << 200;
        QTest::newRow("Timer5") << false << 50;
        QTest::newRow("Timer6") << false << 500;
    }
    void timersAtStart()
    {
        QFETCH(bool, enabled);
        QFETCH(int, interval);
        test::WindowFixture f;
        FormTimer *t = f.timer(QTest::currentDataTag());
        QCOMPARE(t->isEnabled(), enabled);
        QCOMPARE(t->interval(), interval);
        QVERIFY(!t->isRunning()); // nothing fires at start
    }

    void inertMenuIsDeclared()
    {
        test::WindowFixture f;
        auto *menu = f.window->findChild<QMenu *>(QStringLiteral("MenuCMD"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("命令操作"));
        QStringList items;
        for (QAction *a : menu->actions())
            items << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(items, (QStringList{"DelectList=删除", "DelectAll=清空"}));
    }
};

QTEST_MAIN(WindowLayout)
#include "test_window_layout.moc"

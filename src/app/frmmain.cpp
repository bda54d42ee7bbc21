// The window: its controls, their places and defaults, and the load handler.
#include "app/frmmain.h"

#include "app/formtimer.h"
#include "app/lamp.h"
#include "app/logging.h"
#include "app/qtdialogs.h"
#include "link/serialcomponent.h"
#include "link/socketcomponent.h"
#include "version.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace morven {

namespace {

const char *const Caption = "MORVEN UPDATE TOOL V" MORVEN_VERSION;

// The controls are placed in pixels at 96 dots per inch, as drawn; the client area is just
// large enough to hold them with the same margin on the right and at the bottom as on the left.
constexpr int ClientWidth = 797 + 16;
constexpr int ClientHeight = 804 + 16;

template <class W> W *place(W *widget, const char *name, int x, int y, int w, int h)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QPushButton *button(QWidget *parent, const char *name, const char *caption, int x, int y, int w, int h)
{
    return place(new QPushButton(QLatin1String(caption), parent), name, x, y, w, h);
}

QLabel *label(QWidget *parent, const char *name, const char *caption, int x, int y, int w, int h)
{
    return place(new QLabel(QLatin1String(caption), parent), name, x, y, w, h);
}

// A text box carries its label's text, so screen readers and test tools find it by that.
QLineEdit *textBox(QWidget *parent, const char *name, const char *text, QLabel *caption, int x, int y, int w, int h)
{
    auto *edit = place(new QLineEdit(QLatin1String(text), parent), name, x, y, w, h);
    edit->setAccessibleName(caption->text());
    caption->setBuddy(edit);
    return edit;
}

} // namespace

FrmMain::FrmMain(std::unique_ptr<SerialComponent> comm, std::unique_ptr<SocketComponent> socket,
    std::unique_ptr<Dialogs> dialogs, QWidget *parent)
    : QMainWindow(parent)
    , MSComm1(std::move(comm))
    , Winsock1(std::move(socket))
    , dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtDialogs>(this, QLatin1String(Caption)))
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QLatin1String(Caption));
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    Winsock1->setObjectName(QStringLiteral("Winsock1"));

    buildControls();
    connectHandlers();
    Form_Load();
}

FrmMain::~FrmMain() = default;

void FrmMain::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);
    // The controls were drawn for a small 8-point face; larger text would not fit them.
    QFont small = client->font();
    small.setPixelSize(11);
    small.setStretch(QFont::SemiCondensed);
    client->setFont(small);

    Frame4 = place(new QGroupBox(QStringLiteral("Connect driver configuration"), client), "Frame4", 26, 14, 379, 154);
    Option1 = place(new QRadioButton(QStringLiteral("NET LINK"), Frame4), "Option1", 24, 24, 81, 17);
    Label9 = label(Frame4, "Label9", "IP address:", 112, 27, 66, 12);
    IP_Addr = textBox(Frame4, "IP_Addr", "192.168.0.50", Label9, 180, 24, 111, 18);
    Shape11 = place(new Lamp(Frame4), "Shape11", 320, 24, 17, 19);
    Shape11->setFillColor(LampGrey);
    Label10 = label(Frame4, "Label10", "Port:", 146, 52, 30, 14);
    IP_Port = textBox(Frame4, "IP_Port", "7776", Label10, 178, 50, 41, 18);
    Command32 = button(Frame4, "Command32", "connect", 232, 48, 57, 22);
    Command33 = button(Frame4, "Command33", "close", 304, 48, 53, 22);
    Line1 = place(new QFrame(Frame4), "Line1", 8, 80, 363, 2);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    Option2 = place(new QRadioButton(QStringLiteral("COMM PORT"), Frame4), "Option2", 24, 96, 81, 17);
    Option2->setChecked(true);
    Label1 = label(Frame4, "Label1", "PORT NO:", 128, 98, 48, 12);
    COM_PORT = textBox(Frame4, "COM_PORT", "1", Label1, 176, 95, 71, 18);
    Command12 = button(Frame4, "Command12", "Open port", 264, 96, 81, 20);
    Label2 = label(Frame4, "Label2", "BITRATE:", 128, 124, 48, 12);
    Combo2 = place(new QComboBox(Frame4), "Combo2", 176, 120, 73, 20);
    Combo2->setEditable(true);
    Combo2->setInsertPolicy(QComboBox::NoInsert);
    for (const char *rate :
        {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200", "128000"})
        Combo2->addItem(QLatin1String(rate));
    // On an editable box setCurrentText() only fills the edit field; the list must point at the rate too.
    Combo2->setCurrentIndex(Combo2->findText(QStringLiteral("9600")));
    // An editable combo box reads out its text as its name; its edit field carries the label.
    Combo2->setAccessibleName(Label2->text());
    Combo2->lineEdit()->setAccessibleName(Label2->text());
    Label2->setBuddy(Combo2);
    Command11 = button(Frame4, "Command11", "Close port", 264, 120, 81, 20);

    Command10 = button(client, "Command10", "Open file", 424, 16, 105, 33);
    Command5 = button(client, "Command5", "Update mode", 424, 56, 105, 33);
    Command15 = button(client, "Command15", "Erase flash", 424, 96, 105, 33);
    Command4 = button(client, "Command4", "Download", 424, 136, 105, 33);
    Command13 = button(client, "Command13", "Link test", 616, 104, 89, 25);
    ProgressBar1 = place(new QProgressBar(client), "ProgressBar1", 24, 176, 497, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Label3 = label(client, "Label3", "File:", 24, 208, 497, 17);
    Command3 = button(client, "Command3", "2Save as", 592, 328, 81, 25);
    Command6 = button(client, "Command6", "Clear2", 688, 328, 81, 25);
    Command54 = button(client, "Command54", "Open file1", 16, 352, 75, 25);
    Command2 = button(client, "Command2", "Fmt_O_data", 88, 352, 81, 25);
    Command14 = button(client, "Command14", "Fmt_W_data", 168, 352, 81, 25);
    Command16 = button(client, "Command16", "Fmt_PW_data", 248, 352, 81, 25);
    Command7 = button(client, "Command7", "Clear1", 328, 352, 73, 25);
    Command55 = button(client, "Command55", "1Save as", 400, 352, 73, 25);
    Command1 = button(client, "Command1", "O Downlaod", 488, 352, 105, 33);
    Command8 = button(client, "Command8", "Erase data", 592, 352, 97, 25);
    Command9 = button(client, "Command9", "Verify crc", 704, 352, 73, 25);
    List1 = place(new QListView(client), "List1", 16, 392, 381, 412);
    List2 = place(new QListView(client), "List2", 416, 392, 381, 412);
    List1->setModel(&List1Items);
    List2->setModel(&List2Items);
    for (QListView *list : {List1, List2}) {
        // Uniform rows keep a list of a million lines as quick as a short one.
        list->setUniformItemSizes(true);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    }

    // The command menu is declared but has nothing behind it, so it is not put on show:
    // a menu whose items do nothing would only mislead the operator.
    MenuCMD = new QMenu(QStringLiteral("命令操作"), this);
    MenuCMD->setObjectName(QStringLiteral("MenuCMD"));
    DelectList = MenuCMD->addAction(QStringLiteral("删除"));
    DelectList->setObjectName(QStringLiteral("DelectList"));
    DelectAll = MenuCMD->addAction(QStringLiteral("清空"));
    DelectAll->setObjectName(QStringLiteral("DelectAll"));

    Timer1 = new FormTimer(QStringLiteral("Timer1"), false, 50, this);
    Timer2 = new FormTimer(QStringLiteral("Timer2"), false, 50, this);
    Timer3 = new FormTimer(QStringLiteral("Timer3"), true, 0, this);
    Timer4 = new FormTimer(QStringLiteral("Timer4"), false, 200, this);
    Timer5 = new FormTimer(QStringLiteral("Timer5"), false, 50, this);
    Timer6 = new FormTimer(QStringLiteral("Timer6"), false, 500, this);

    adjustSize();
    setFixedSize(sizeHint());
}

void FrmMain::connectHandlers()
{
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    connect(Command12, &QPushButton::clicked, this, &FrmMain::Command12_Click);
    connect(Command11, &QPushButton::clicked, this, &FrmMain::Command11_Click);
    connect(Command32, &QPushButton::clicked, this, &FrmMain::Command32_Click);
    connect(Command33, &QPushButton::clicked, this, &FrmMain::Command33_Click);
    connect(Winsock1.get(), &SocketComponent::connected, this, &FrmMain::Winsock1_Connect);
    connect(Winsock1.get(), &SocketComponent::closed, this, &FrmMain::Winsock1_Close);
    // Neither failure has a message box: the controls keep showing the link as the operator left it.
    connect(Winsock1.get(), &SocketComponent::failed, this,
        [](const QString &why) { qCInfo(lcApp).noquote() << "network link:" << why; });
    connect(MSComm1.get(), &SerialComponent::failed, this, [](const QString &why) {
        qCInfo(lcApp).noquote() << "serial port failed, sending nothing until \"Close port\":" << why;
    });
    connect(Timer6, &FormTimer::tick, this, &FrmMain::Timer6_Timer);
    connect(MSComm1.get(), &SerialComponent::commEvent, this, &FrmMain::MSComm1_OnComm);
    connect(Timer1, &FormTimer::tick, this, &FrmMain::Timer1_Timer);
    connect(Winsock1.get(), &SocketComponent::dataArrival, this, &FrmMain::Winsock1_DataArrival);
    connect(Timer5, &FormTimer::tick, this, &FrmMain::Timer5_Timer);
    connect(Timer2, &FormTimer::tick, this, &FrmMain::Timer2_Timer);
    connect(Timer3, &FormTimer::tick, this, &FrmMain::Timer3_Timer);
    connect(Timer4, &FormTimer::tick, this, &FrmMain::Timer4_Timer);

    connect(Command13, &QPushButton::clicked, this, &FrmMain::Command13_Click);
    connect(Command5, &QPushButton::clicked, this, &FrmMain::Command5_Click);
    connect(Command15, &QPushButton::clicked, this, &FrmMain::Command15_Click);
    connect(Command8, &QPushButton::clicked, this, &FrmMain::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &FrmMain::Command9_Click);
    connect(Command4, &QPushButton::clicked, this, &FrmMain::Command4_Click);
    connect(Command1, &QPushButton::clicked, this, &FrmMain::Command1_Click);

    connect(Command10, &QPushButton::clicked, this, &FrmMain::Command10_Click);
    connect(Command54, &QPushButton::clicked, this, &FrmMain::Command54_Click);
    connect(Command55, &QPushButton::clicked, this, &FrmMain::Command55_Click);
    connect(Command3, &QPushButton::clicked, this, &FrmMain::Command3_Click);
    connect(Command7, &QPushButton::clicked, this, &FrmMain::Command7_Click);
    connect(Command6, &QPushButton::clicked, this, &FrmMain::Command6_Click);
    connect(Command2, &QPushButton::clicked, this, &FrmMain::Command2_Click);
    connect(Command14, &QPushButton::clicked, this, &FrmMain::Command14_Click);
    connect(Command16, &QPushButton::clicked, this, &FrmMain::Command16_Click);
}

} // namespace morven

#include "moc_frmmain.cpp"

// The one window, FrmMain: its controls, timers, links and handlers.
#pragma once

#include "records/conversion.h"
#include "app/dialogs.h"
#include "update/dispatcher.h"
#include "records/linelistmodel.h"

#include <QMainWindow>

#include <memory>
#include <string_view>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace morven {

class FormTimer;
class Lamp;
class SerialComponent;
class SocketComponent;

// The one window: its controls, timers, links and the handlers behind them.
class FrmMain : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr QRgb LampGrey = 0x808080;
    static constexpr QRgb LampGreen = 0x00FF00;

    // Takes the two links; without dialogs it asks with real message boxes and file dialogs.
    FrmMain(std::unique_ptr<SerialComponent> comm, std::unique_ptr<SocketComponent> socket,
        std::unique_ptr<Dialogs> dialogs = nullptr, QWidget *parent = nullptr);
    ~FrmMain() override;

    // Start-up and link selection.
    void Form_Load();
    void Option1_Click();
    void Option2_Click();

    // Serial link.
    void Command12_Click();
    void Command11_Click();

    // Network link.
    void Command32_Click();
    void Command33_Click();
    void Winsock1_Connect();
    void Winsock1_Close();
    void Timer6_Timer();

    // Sending and receiving.
    void SendComm(const QByteArray &SendStr);
    void SendSTRComm(std::string_view SendStr);
    void MSComm1_OnComm();
    void Timer1_Timer();
    void Winsock1_DataArrival(qint64 bytesTotal);
    void Timer5_Timer();
    void CommRec(const QByteArray &RecData, qint16 L);

    // Bootloader commands and the link probe.
    void Command13_Click();
    void Command5_Click();
    void Command15_Click();
    void Command8_Click();
    void Command9_Click();
    void Timer4_Timer();

    // The download engine.
    void Command4_Click();
    void Command1_Click();
    void Timer2_Timer();
    void Timer3_Timer();

    // Firmware file and list files.
    void Command10_Click();
    void Command54_Click();
    void Command55_Click();
    void Command3_Click();
    void Command7_Click();
    void Command6_Click();

    // Record conversions.
    void Command2_Click();
    void Command14_Click();
    void Command16_Click();

    const LineListModel &list1Items() const { return List1Items; }
    const LineListModel &list2Items() const { return List2Items; }
    const EngineState &engineState() const { return engine; }
    const ReplyState &replyState() const { return reply; }

private:
    void buildControls();
    void connectHandlers();
    void saveList(const LineListModel &list, const QString &filter);
    void convertRecordList(Format format);
    void sendAnnounce(char letter);
    void engineStep();

    // The latest reply and the download's position.
    ReplyState reply;
    EngineState engine;
    LineListModel List1Items;
    LineListModel List2Items;

    std::unique_ptr<SerialComponent> MSComm1;
    std::unique_ptr<SocketComponent> Winsock1;
    std::unique_ptr<Dialogs> dialogs_;

    QGroupBox *Frame4 = nullptr;
    QRadioButton *Option1 = nullptr;
    QLabel *Label9 = nullptr;
    QLineEdit *IP_Addr = nullptr;
    Lamp *Shape11 = nullptr;
    QLabel *Label10 = nullptr;
    QLineEdit *IP_Port = nullptr;
    QPushButton *Command32 = nullptr;
    QPushButton *Command33 = nullptr;
    QFrame *Line1 = nullptr;
    QRadioButton *Option2 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *COM_PORT = nullptr;
    QPushButton *Command12 = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *Combo2 = nullptr;
    QPushButton *Command11 = nullptr;

    QPushButton *Command10 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command15 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command13 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command54 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command14 = nullptr;
    QPushButton *Command16 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command55 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command9 = nullptr;
    QListView *List1 = nullptr;
    QListView *List2 = nullptr;

    QMenu *MenuCMD = nullptr;
    QAction *DelectList = nullptr;
    QAction *DelectAll = nullptr;

    FormTimer *Timer1 = nullptr;
    FormTimer *Timer2 = nullptr;
    FormTimer *Timer3 = nullptr;
    FormTimer *Timer4 = nullptr;
    FormTimer *Timer5 = nullptr;
    FormTimer *Timer6 = nullptr;
};

} // namespace morven

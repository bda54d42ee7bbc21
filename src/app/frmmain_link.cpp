// The window's link handlers: start-up and link selection, the serial port, the TCP link
// with its lamp and watchdog, sending, receiving and the link probe.
#include "app/frmmain.h"

#include "app/formtimer.h"
#include "app/lamp.h"
#include "app/logging.h"
#include "link/commsetting.h"
#include "link/serialcomponent.h"
#include "link/socketcomponent.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace morven {

// --- Start-up and link selection ------------------------------------------------------

void FrmMain::Form_Load()
{
    if (Option1->isChecked()) {
        Option1_Click();
        return;
    }
    if (Option2->isChecked())
        Option2_Click();
}

void FrmMain::Option1_Click()
{
    Command11_Click();
    for (QWidget *w : {static_cast<QWidget *>(COM_PORT), static_cast<QWidget *>(Combo2),
             static_cast<QWidget *>(Command12), static_cast<QWidget *>(Command11)})
        w->setEnabled(false);
    IP_Addr->setEnabled(true);
    IP_Port->setEnabled(true);
    Command32->setEnabled(true);
    Command33->setEnabled(false);
}

void FrmMain::Option2_Click()
{
    Command33_Click();
    COM_PORT->setEnabled(true);
    Combo2->setEnabled(true);
    Command12->setEnabled(true);
    Command11->setEnabled(false);
    for (QWidget *w : {static_cast<QWidget *>(IP_Addr), static_cast<QWidget *>(IP_Port),
             static_cast<QWidget *>(Command32), static_cast<QWidget *>(Command33)})
        w->setEnabled(false);
    Shape11->setFillColor(LampGrey);
}

// --- Serial link ----------------------------------------------------------------------

void FrmMain::Command12_Click()
{
    QString settings = Combo2->currentText() + QLatin1String(",n,8,1");
    MSComm1->close();
    qint16 port = CommSetting::PortNumberFromText(COM_PORT->text());
    // A port that does not open is no message: the controls show the open state all the same.
    if (const auto why = CommSetting::OpenComm(*MSComm1, port, settings))
        qCInfo(lcApp).noquote() << "serial port not opened:" << *why;
    COM_PORT->setEnabled(false);
    Combo2->setEnabled(false);
    Command12->setEnabled(false);
    Command11->setEnabled(true);
}

void FrmMain::Command11_Click()
{
    MSComm1->close();
    COM_PORT->setEnabled(true);
    Combo2->setEnabled(true);
    Command12->setEnabled(true);
    Command11->setEnabled(false);
}

// --- Network link ---------------------------------------------------------------------

void FrmMain::Command32_Click()
{
    if (Option1->isChecked()) {
        Winsock1->close();
        // A request refused outright leaves the link connecting, as a failed attempt does.
        if (const auto why = Winsock1->connectTo(IP_Addr->text(), IP_Port->text()))
            qCInfo(lcApp).noquote() << "not connecting:" << *why;
    }
    Command32->setEnabled(false);
    Command33->setEnabled(true);
    IP_Addr->setEnabled(false);
    IP_Port->setEnabled(false);
}

void FrmMain::Command33_Click()
{
    Winsock1->close();
    Command32->setEnabled(true);
    Command33->setEnabled(false);
    IP_Addr->setEnabled(true);
    IP_Port->setEnabled(true);
    Shape11->setFillColor(LampGrey);
}

void FrmMain::Winsock1_Connect()
{
    Shape11->setFillColor(LampGreen);
    Timer6->setEnabled(true);
}

void FrmMain::Winsock1_Close()
{
    Shape11->setFillColor(LampGrey);
}

void FrmMain::Timer6_Timer()
{
    if (!Winsock1->isConnected()) {
        Command33_Click();
        Timer6->setEnabled(false);
    }
}

// --- Sending and receiving ---------------------------------------------------------------

void FrmMain::SendComm(const QByteArray &SendStr)
{
    // Both links are asked; the options exclude each other, and a closed link sends nothing.
    const QByteArray copy = SendStr;
    if (Option2->isChecked())
        if (const auto why = MSComm1->write(copy))
            qCInfo(lcApp) << "not sent on the serial port," << *why << copy.left(40);
    if (Option1->isChecked())
        if (const auto why = Winsock1->send(copy))
            qCInfo(lcApp) << "not sent on the socket," << *why << copy.left(40);
}

void FrmMain::SendSTRComm(std::string_view SendStr)
{
    SendComm(QByteArray(SendStr.data(), qsizetype(SendStr.size())));
}

void FrmMain::MSComm1_OnComm()
{
    // The reply is read 50 ms after its first byte, so that one read usually holds all of it.
    Timer1->setEnabled(true);
}

void FrmMain::Timer1_Timer()
{
    if (MSComm1->lastEvent() == SerialComponent::Receive) {
        // The count is taken before the read: what comes in between is read but not looked at.
        const int L = MSComm1->bytesWaiting();
        if (L > 0) {
            const QByteArray ReceiveBuffer = MSComm1->read();
            CommRec(ReceiveBuffer, qint16(L));
        }
    }
    Timer1->setEnabled(false);
    Timer1->setInterval(50);
}

void FrmMain::Winsock1_DataArrival(qint64)
{
    Timer5->setEnabled(true);
}

void FrmMain::Timer5_Timer()
{
    Timer5->setEnabled(false);
    // Everything waiting is taken, so nothing is left behind without an arrival to announce it;
    // the count handed on stops at the largest 16-bit number.
    const QByteArray ReceiveBuffer = Winsock1->getData(Winsock1->bytesReceived());
    const qint16 L = qint16(std::min<qsizetype>(ReceiveBuffer.size(), INT16_MAX));
    CommRec(ReceiveBuffer, L);
}

// --- Link probe ----------------------------------------------------------------------------

void FrmMain::Timer4_Timer()
{
    if (!Option1->isChecked() || Winsock1->isConnected()) {
        Command13_Click();
        return;
    }
    Command33_Click();
    // Just over 0.1 s, during which the window goes on handling its events (a reply among them).
    QPointer<FrmMain> self(this);
    QEventLoop pause;
    QTimer::singleShot(101, Qt::PreciseTimer, &pause, &QEventLoop::quit);
    pause.exec();
    if (self)
        Command32_Click();
}

} // namespace morven

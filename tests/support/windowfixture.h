// The window under test, with fakes or real links, and how tests press its buttons.
#pragma once

#include "app/formtimer.h"
#include "app/frmmain.h"
#include "app/lamp.h"
#include "link/qtserialcomponent.h"
#include "support/fakesocketcomponent.h"
#include "support/loopbacksocketcomponent.h"
#include "support/pty.h"
#include "support/recordingserialcomponent.h"
#include "support/scripteddialogs.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <memory>

namespace morven::test {

// What every window test does to the window: find its controls by name and press them.
struct WindowDriver
{
    template <class T = QWidget> T *control(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    FormTimer *timer(const char *name) const { return control<FormTimer>(name); }
    QRgb lamp() const { return control<Lamp>("Shape11")->fillColor(); }
    void click(const char *name) const { control<QAbstractButton>(name)->click(); }

    // Tests point the TCP fields at loopback before anything connects.
    void aimAt(quint16 port) const
    {
        control<QLineEdit>("IP_Addr")->setText(QStringLiteral("127.0.0.1"));
        control<QLineEdit>("IP_Port")->setText(QString::number(port));
    }

    // The names of the link controls that are enabled, in inventory order.
    QStringList enabledLinkControls() const
    {
        QStringList on;
        for (const char *name :
            {"COM_PORT", "Combo2", "Command12", "Command11", "IP_Addr", "IP_Port", "Command32", "Command33"})
            if (control(name)->isEnabled())
                on << QLatin1String(name);
        return on;
    }

    // The window on these links, its dialogs answered from a script.
    template <class Serial, class Socket> void build(Serial *&serial, Socket *&socket, std::unique_ptr<Serial> comm)
    {
        serial = comm.get();
        auto sock = std::make_unique<Socket>();
        socket = sock.get();
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        window = std::make_unique<FrmMain>(std::move(comm), std::move(sock), std::move(scripted));
    }

    ScriptedDialogs *dialogs = nullptr;
    std::unique_ptr<FrmMain> window;
};

// A window whose links are fakes that the test drives by hand.
struct FakeLinkWindow : WindowDriver
{
    FakeLinkWindow() { build(serial, socket, std::make_unique<RecordingSerialComponent>()); }

    RecordingSerialComponent *serial = nullptr;
    FakeSocketComponent *socket = nullptr;
};

// A window on a pseudo-terminal (port 1; other numbers name no device) and a loopback-only socket.
struct WindowFixture : WindowDriver
{
    WindowFixture()
    {
        build(serial, socket, std::make_unique<QtSerialComponent>([this](int n) {
            requestedPorts << n;
            return n == 1 ? device : QStringLiteral("/nonexistent/ttyMORVEN%1").arg(n);
        }));
    }
    // The window goes before the terminal it holds open.
    ~WindowFixture() { window.reset(); }

    Pty pty;
    QString device = pty.slavePath(); // what port 1 opens
    QList<int> requestedPorts;
    QtSerialComponent *serial = nullptr;
    LoopbackSocketComponent *socket = nullptr;
};

} // namespace morven::test

#include "frmmain.h"
#include "qtserialport.h"
#include "qttcpsocket.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    morven::FrmMain window(std::make_unique<morven::QtSerialPort>(), std::make_unique<morven::QtTcpSocket>());
    window.show();
    return app.exec();
}

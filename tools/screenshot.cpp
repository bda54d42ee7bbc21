// Saves a picture of the window as the screen shows it: run under an X server (Xvfb).
#include "app/frmmain.h"
#include "link/qtserialcomponent.h"
#include "link/qtsocketcomponent.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("window.png");
    morven::FrmMain window(
        std::make_unique<morven::QtSerialComponent>(), std::make_unique<morven::QtSocketComponent>());
    window.move(0, 0);
    window.show();
    QTimer::singleShot(500, &app, [&] {
        const QPixmap shot = window.screen()->grabWindow(window.winId());
        app.exit(shot.save(out) ? 0 : 1);
    });
    return app.exec();
}

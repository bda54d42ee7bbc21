// SIGINT and SIGTERM as a signal on morvenctl's event loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace morven::cli {

// Turns SIGINT and SIGTERM into a signal on the event loop, so a run that is interrupted can
// close its links and say where each target was left instead of dying mid-frame. A second
// interrupt ends the program at once. A command that cannot catch them does not start.
class Interrupts : public QObject
{
    Q_OBJECT
public:
    explicit Interrupts(QObject *parent = nullptr);
    ~Interrupts() override;

signals:
    void interrupted(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace morven::cli

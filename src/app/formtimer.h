// The window timers with Enabled and Interval as the handlers expect them.
#pragma once

#include <QObject>
#include <QTimer>

namespace morven {

// A window timer with Enabled and Interval properties, as the handlers expect them:
// an interval of 0 never fires, enabling a timer that is already enabled does not restart
// its count, and a new interval restarts the count of an enabled timer.
class FormTimer : public QObject
{
    Q_OBJECT
public:
    FormTimer(const QString &name, bool enabled, int interval, QObject *parent = nullptr);

    bool isEnabled() const { return enabled_; }
    int interval() const { return interval_; }
    // True while a tick is due: enabled with an interval above 0.
    bool isRunning() const { return timer_.isActive(); }
    // Milliseconds until the next tick, -1 when none is due.
    int remainingTime() const { return timer_.remainingTime(); }

    void setEnabled(bool enabled);
    void setInterval(int milliseconds);

signals:
    void tick();

private:
    void apply();

    QTimer timer_;
    bool enabled_;
    int interval_;
};

} // namespace morven

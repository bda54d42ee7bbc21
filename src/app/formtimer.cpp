// The window timers with Enabled and Interval as the handlers expect them.
#include "app/formtimer.h"

namespace morven {

FormTimer::FormTimer(const QString &name, bool enabled, int interval, QObject *parent)
    : QObject(parent)
    , enabled_(enabled)
    , interval_(interval < 0 ? 0 : interval)
{
    setObjectName(name);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FormTimer::tick);
    apply();
}

void FormTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    apply();
}

void FormTimer::setInterval(int milliseconds)
{
    interval_ = milliseconds < 0 ? 0 : milliseconds;
    apply();
}

void FormTimer::apply()
{
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}

} // namespace morven

#include "moc_formtimer.cpp"

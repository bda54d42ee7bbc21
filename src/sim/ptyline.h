// The simulated target's line over a pseudo-terminal whose slave side the PC opens as its serial
// device. Private to the simulated target.
#pragma once

#include "sim/simline.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace morven::sim {

class SimTarget::PtyLine : public Line
{
public:
    PtyLine(SimTarget &target, int master, int slave)
        : Line(target)
        , master_(master)
        , slave_(slave)
        , reader_(master, QSocketNotifier::Read)
        , writer_(master, QSocketNotifier::Write)
    {
        writer_.setEnabled(false);
        connect(&reader_, &QSocketNotifier::activated, this, [this] { readMaster(); });
        connect(&writer_, &QSocketNotifier::activated, this, [this] { flush(); });
    }

    ~PtyLine() override
    {
        reader_.setEnabled(false);
        writer_.setEnabled(false);
        ::close(master_);
        ::close(slave_);
    }

    void retire() override
    {
        Line::retire();
        reader_.setEnabled(false);
        writer_.setEnabled(false);
        pending_.clear();
    }

protected:
    void write(std::string_view bytes) override
    {
        pending_.append(bytes);
        flush();
    }

private:
    void readMaster()
    {
        std::string data;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                data.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                // Not expected while we hold the slave open; stop rather than spin.
                reader_.setEnabled(false);
                const QString why
                    = n == 0 ? QStringLiteral("end of file") : QString::fromLocal8Bit(std::strerror(errno));
                emit target_.logMessage(QStringLiteral("pseudo-terminal read failed: %1").arg(why));
            }
            break;
        }
        if (!data.empty())
            arrived(data);
    }

    void flush()
    {
        while (!pending_.empty()) {
            const ssize_t n = ::write(master_, pending_.data(), pending_.size());
            if (n > 0) {
                pending_.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                pending_.clear();
            break;
        }
        writer_.setEnabled(!pending_.empty());
    }

    int master_;
    int slave_; // held open so the line stays usable and raw between the PC's openings
    QSocketNotifier reader_;
    QSocketNotifier writer_;
    std::string pending_;
};

} // namespace morven::sim

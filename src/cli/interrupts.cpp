// SIGINT and SIGTERM as a signal on morvenctl's event loop.
#include "cli/interrupts.h"

#include "station/exitcodes.h"
#include "cmdline/cmdline.h"

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace morven::cli {

using namespace morven::station;

namespace {
int pipeFds[2] = {-1, -1};

extern "C" void onSignal(int number)
{
    // Only async-signal-safe calls here: the event loop does the rest.
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    std::signal(number, SIG_DFL);
}
} // namespace

Interrupts::Interrupts(QObject *parent)
    : QObject(parent)
{
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        fail(Internal, QStringLiteral("cannot catch signals"));
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(pipeFds[0], &byte, 1) == 1)
            emit interrupted(byte);
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

Interrupts::~Interrupts()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

} // namespace morven::cli

#include "moc_interrupts.cpp"

// Pseudo-terminal pairs for serial tests.
#pragma once

#include <QByteArray>
#include <QString>

namespace morven::test {

// A pseudo-terminal pair: the slave side is the serial device under test, the master side
// plays the far end of the line.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return master_ >= 0; }
    QString slavePath() const { return slavePath_; }
    int slaveFd() const { return slave_; }

    bool write(const QByteArray &bytes);
    // Reads from the far end until `count` bytes have come or `timeoutMs` has passed.
    QByteArray read(int count, int timeoutMs = 5000);
    // The far end goes away.
    void closeMaster();
    void closeSlave();

private:
    int master_ = -1;
    int slave_ = -1; // held open so the line keeps its raw settings between openings
    QString slavePath_;
};

} // namespace morven::test

// Running the programs under test, and the files and lines they are given.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace morven::sim {
class Bootloader;
}

namespace morven::test {

struct ProcessResult
{
    int code = -1; // -1: did not start, crashed or timed out
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end while this process's event loop keeps serving (simulated targets
// live in the test process); kills it after timeoutMs.
ProcessResult runProgram(const QString &program, const QStringList &args, int timeoutMs = 60000,
    const QByteArray &standardInput = QByteArray(), const QStringList &environment = QStringList());

// Writes `bytes` to `path`, or stops the test program when it cannot; returns the path.
QString writeFile(const QString &path, const QByteArray &bytes);

// `count` download lines with real CRCs, as a conversion prints them: ":W", chunk number from
// 1, a byte count, data bytes that differ per line, the CRC and ';'.
QStringList downloadLines(int count, char letter = 'W');

// An Intel HEX record with its checksum: ':' LL AAAA TT data CC.
QByteArray hexRecord(const QByteArray &data, quint16 address = 0, quint8 type = 0);

// The lines a simulated target accepted in its latest download.
QStringList acceptedLines(const sim::Bootloader &bootloader);

} // namespace morven::test

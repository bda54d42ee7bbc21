// Running the programs under test, and the files and lines they are given.
#include "support/cliprocess.h"

#include "sim/bootloader.h"
#include "protocol/frame.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <vector>

namespace morven::test {

ProcessResult runProgram(
    const QString &program, const QStringList &args, int timeoutMs, const QByteArray &standardInput,
    const QStringList &environment)
{
    QProcess process;
    if (!environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &setting : environment)
            env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(env);
    }
    process.start(program, args);
    ProcessResult r;
    if (!process.waitForStarted(10000))
        return r;
    process.write(standardInput);
    process.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        qWarning("%s did not finish within %d ms", qPrintable(program), timeoutMs);
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList downloadLines(int count, char letter)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i) {
        const std::uint8_t bytes[] = {std::uint8_t(i >> 8), std::uint8_t(i), 4, 0xDE, 0xAD, std::uint8_t(i), 0xEF};
        lines << QString::fromStdString(morven::buildFrame(letter, bytes));
    }
    return lines;
}

QByteArray hexRecord(const QByteArray &data, quint16 address, quint8 type)
{
    QByteArray bytes;
    bytes.append(char(data.size())).append(char(address >> 8)).append(char(address & 0xFF)).append(char(type));
    bytes.append(data);
    unsigned sum = 0;
    for (const char c : bytes)
        sum += static_cast<unsigned char>(c);
    bytes.append(char((256 - (sum & 0xFF)) & 0xFF));
    return ':' + bytes.toHex().toUpper();
}

QStringList acceptedLines(const sim::Bootloader &bootloader)
{
    QStringList out;
    for (const std::string &l : bootloader.acceptedLines())
        out << QString::fromStdString(l);
    return out;
}

} // namespace morven::test

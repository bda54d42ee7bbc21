// The input file options of convert and flash, and reading the file.
#include "cli/inputfile.h"

#include "station/exitcodes.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace morven::cli {

using namespace morven::station;

void InputFileOptions::addTo(CommandLine &cl, bool forFlash) const
{
    cl.add(format);
    cl.add(inputFormat);
    cl.add(address);
    if (forFlash)
        cl.add(force);
}

InputOptions InputFileOptions::read(const CommandLine &cl, bool forFlash) const
{
    InputOptions o;
    if (cl.isSet(format)) {
        const QString f = cl.value(format).toLower();
        if (f == QLatin1String("o"))
            o.format = Format::O;
        else if (f == QLatin1String("w"))
            o.format = Format::W;
        else if (f == QLatin1String("pw"))
            o.format = Format::PW;
        else
            misuse(QStringLiteral("--format: '%1' is not o, w or pw").arg(cl.value(format)));
    } else if (!forFlash) {
        misuse(QStringLiteral("give --format o, w or pw: the kind of download lines to make"));
    }
    if (cl.isSet(inputFormat)) {
        const QString f = cl.value(inputFormat).toLower();
        if (f == QLatin1String("ihex"))
            o.inputFormat = InputFormat::IntelHex;
        else if (f == QLatin1String("srec"))
            o.inputFormat = InputFormat::Srec;
        else if (f == QLatin1String("bin"))
            o.inputFormat = InputFormat::Binary;
        else
            misuse(QStringLiteral("--input-format: '%1' is not ihex, srec or bin").arg(cl.value(inputFormat)));
        if (!o.format)
            misuse(QStringLiteral("--input-format: the file is converted only with --format o, w or pw"));
    }
    if (cl.isSet(address)) {
        o.address = cl.address(address);
        if (o.inputFormat && *o.inputFormat != InputFormat::Binary)
            misuse(QStringLiteral("--address: only binary input has a load address"));
    }
    o.force = forFlash && cl.isSet(force);
    if (o.force && o.format)
        misuse(QStringLiteral("--force: converted lines are always checked; give --force without --format"));
    return o;
}

void readInput(const QString &path, FirmwareInput &input)
{
    QFile file;
    const bool standardInput = path == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("standard input") : path;
    if (standardInput) {
        if (!file.open(stdin, QIODevice::ReadOnly))
            fail(BadInput, QStringLiteral("standard input cannot be read"));
    } else {
        const QFileInfo info(path);
        if (info.isDir())
            fail(BadInput, QStringLiteral("%1: is a directory, not a file").arg(path));
        if (!info.exists())
            fail(BadInput, QStringLiteral("%1: no such file").arg(path));
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            fail(BadInput, QStringLiteral("%1: %2").arg(path, file.errorString()));
    }
    auto refuse = [&](const InputError &e) {
        fail(BadInput,
            e.line == 0
                ? QStringLiteral("%1: %2").arg(name, QString::fromStdString(e.message))
                : QStringLiteral("%1: line %2: %3").arg(name).arg(e.line).arg(QString::fromStdString(e.message)));
    };
    std::string chunk(1 << 20, '\0');
    for (;;) {
        const qint64 n = file.read(chunk.data(), qint64(chunk.size()));
        if (n < 0)
            fail(BadInput, QStringLiteral("%1: cannot be read: %2").arg(name, file.errorString()));
        if (n == 0)
            break;
        if (auto e = input.feed(std::string_view(chunk.data(), std::size_t(n))))
            refuse(*e);
    }
    if (auto e = input.finish())
        refuse(*e);
}

} // namespace morven::cli

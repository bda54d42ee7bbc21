// morvenctl convert: input file in, download lines out, as the window's conversion buttons.
#include "cli/commands.h"
#include "cli/inputfile.h"

#include <QSaveFile>

#include <cstdio>

namespace morven::cli {

int runConvert(const QStringList &args)
{
    CommandLine cl(QStringLiteral("convert"),
        QStringLiteral("Turns Intel HEX records, S-records or binary data into packed, CRC-protected download lines: "
                       "the lines of the window's Fmt_O_data, Fmt_W_data or Fmt_PW_data. Every record checksum is "
                       "checked, and nothing is written for a file that yields no line."));
    const InputFileOptions io;
    io.addTo(cl, false);
    const QCommandLineOption output({"o", "output"}, "Write the lines here instead of to standard output.", "file");
    cl.add(output);
    cl.positional(QStringLiteral("file"), QStringLiteral("The input file, or - for standard input."), 1, 1);
    if (!cl.parse(args))
        return Ok;
    const InputOptions options = io.read(cl, false);

    // With -o the file appears whole or not at all; on standard output lines go as they come.
    QSaveFile saved;
    const bool toFile = cl.isSet(output);
    if (toFile) {
        saved.setFileName(cl.value(output));
        if (!saved.open(QIODevice::WriteOnly))
            fail(BadInput, QStringLiteral("%1: %2").arg(saved.fileName(), saved.errorString()));
    }
    std::string batch;
    bool written = true;
    auto flush = [&] {
        if (toFile)
            written = written && saved.write(batch.data(), qint64(batch.size())) == qint64(batch.size());
        else
            written = written && std::fwrite(batch.data(), 1, batch.size(), stdout) == batch.size();
        batch.clear();
    };
    FirmwareInput input(options, [&](std::string_view line) {
        batch.append(line);
        batch.append("\r\n", 2);
        if (batch.size() >= (1 << 18))
            flush();
    });
    readInput(cl.arguments().constFirst(), input);
    flush();
    if (toFile ? !written || !saved.commit() : !written || std::fflush(stdout) != 0)
        fail(Internal,
            QStringLiteral("%1: cannot be written%2")
                .arg(toFile ? saved.fileName() : QStringLiteral("standard output"),
                    toFile ? QStringLiteral(": ") + saved.errorString() : QString()));
    return Ok;
}

} // namespace morven::cli

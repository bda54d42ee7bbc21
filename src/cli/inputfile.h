// The input file options of convert and flash, and reading the file.
#pragma once

#include "cli/commandline.h"
#include "records/firmwareinput.h"

namespace morven::cli {

// The options that say what an input file holds and what to make of it, shared by convert and
// flash: --format (alias --convert), --input-format, --address and, for flash, --force.
struct InputFileOptions
{
    QCommandLineOption format{{"f", "convert", "format"},
        "Convert records into download lines: o, w or pw, the lines of the window's Fmt_O_data, Fmt_W_data or "
        "Fmt_PW_data.",
        "o|w|pw"};
    QCommandLineOption inputFormat{"input-format",
        "What the file holds: ihex (Intel HEX), srec (Motorola S-records) or bin (raw binary); guessed from its "
        "content when not given.",
        "ihex|srec|bin"};
    QCommandLineOption address{
        "address", "Load address of binary input, hexadecimal with 0x or decimal (default 0).", "addr"};
    QCommandLineOption force{"force",
        "Send lines that are not download lines (raw records, other text) as they stand; never an empty file."};

    // convert needs --format and has no --force; flash has both as options.
    void addTo(CommandLine &cl, bool forFlash) const;
    // Ends the command through misuse() for values that make no sense, alone or together.
    InputOptions read(const CommandLine &cl, bool forFlash) const;
};

// Reads the file at `path` ("-": standard input) through `input`; throws Failure naming the
// file and the line when it cannot be used.
void readInput(const QString &path, FirmwareInput &input);

} // namespace morven::cli

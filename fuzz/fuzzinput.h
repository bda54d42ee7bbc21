// The firmware input path run on a file fed whole or in pieces, for the targets that compare runs.
#pragma once

#include "fuzzcheck.h"

#include "records/firmwareinput.h"

namespace fuzzref {

// Everything a run of the input path shows: the lines it made, its error, and what it tells after.
struct InputRun
{
    std::vector<std::string> lines;
    std::optional<morven::InputError> error;
    morven::InputFormat format = morven::InputFormat::Empty;
    std::size_t linesMade = 0;
    char letter = 0;

    bool operator==(const InputRun &o) const
    {
        return lines == o.lines && error.has_value() == o.error.has_value()
            && (!error || (error->line == o.error->line && error->message == o.error->message)) && format == o.format
            && linesMade == o.linesMade && letter == o.letter;
    }
};

// `file` fed whole (pieces == nullptr) or in pieces of 0 to `most` bytes, then finished; a run
// stops at its first error, as morvenctl does.
inline InputRun runInput(
    const morven::InputOptions &options, std::string_view file, Pieces *pieces = nullptr, std::size_t most = 0)
{
    InputRun run;
    morven::FirmwareInput input(options, [&](std::string_view line) { run.lines.emplace_back(line); });
    if (!pieces) {
        run.error = input.feed(file);
    } else {
        for (std::size_t at = 0, n = 0; at < file.size() && !run.error; at += n) {
            n = std::min(pieces->next(most), file.size() - at);
            run.error = input.feed(file.substr(at, n));
        }
    }
    if (!run.error)
        run.error = input.finish();
    run.format = input.format();
    run.linesMade = input.linesMade();
    run.letter = input.letter();
    return run;
}

} // namespace fuzzref

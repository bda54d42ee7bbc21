#pragma once

#include "linestore.h"
#include "workspace.h"

#include <cstddef>
#include <optional>
#include <string>

namespace morven {

// Which button's conversion: ":O" lines, ":W" lines, or ":W" lines with scrambled data.
enum class Format { O, W, PW };

struct ConversionError
{
    std::size_t line; // 1-based line number in the input list
    std::string message; // names the line, e.g. "Line 7: 'G' (character 12) is not a ..."
};

struct ConversionResult
{
    LineStore lines; // the lines printed, up to any refused line
    std::optional<ConversionError> error; // set when a line was refused
};

// Turns Intel HEX record lines into chunk lines: the data bytes of up to eight data records
// are gathered into ws.FrameData behind a 16-bit chunk number and a byte count, and every
// full chunk, or one closed by a non-data record, is printed through CRC16B and DatatoStr2
// (Format::O) or DatatoStr3 (W, PW). Records still pending at the end print nothing.
// Works through the shared buffers of ws exactly as the window does; what they hold
// afterwards is what the last step left. A data record that cannot be converted safely (a
// non-hex character in its fields, a length above 125 or beyond what the line holds, a chunk
// past 255 bytes) stops the run with an error naming the line; earlier lines are kept.
ConversionResult convertRecords(Workspace &ws, const LineStore &list1, Format f);

} // namespace morven

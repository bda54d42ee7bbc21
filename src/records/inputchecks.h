// morvenctl's checks of input files: format, record checksums, download lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The stricter reading of input files that morvenctl applies before it touches a target; the
// window takes any text as it stands.
namespace morven {

// The kinds of file morvenctl can be given.
enum class InputFormat {
    Empty, // no line with anything on it
    IntelHex, // records ":LLAAAATT...CC"
    Srec, // Motorola S-records "S1...", "S2...", "S3..."
    Binary, // raw bytes
    DownloadLines, // ":O...;" or ":W...;" lines, ready to send
    Text, // text that is none of the above
};
const char *formatName(InputFormat format);

// Tells the format from the first bytes of a file (up to a few KiB; `head` may end in the middle
// of a line). Bytes that text files do not hold (NUL, other control characters, bytes of 0x80
// and above) make it binary; otherwise the first line with anything on it decides.
InputFormat sniffFormat(std::string_view head);

// An Intel HEX record: ':' and at least LL + 5 pairs, read by the record codec's digit rule,
// whose bytes up to and including the checksum (the byte after the LL data bytes) add up to a
// multiple of 256. Characters after the checksum are not examined, as the window ignores them.
// Returns what is wrong, or nothing.
[[nodiscard]] std::optional<std::string> checkIntelHexRecord(std::string_view line);

// A download line: ":O" or ":W", pairs of upper-case hexadecimal digits and ';', the last two
// bytes being the CRC-16/MODBUS of the ones before, low byte first. Returns what is wrong.
[[nodiscard]] std::optional<std::string> checkDownloadLine(std::string_view line);

} // namespace morven

// The frames that cross the link.
#include "protocol/frame.h"

#include "protocol/checksum.h"
#include "protocol/hexdigits.h"

namespace morven {

std::string buildFrame(char letter, std::span<const std::uint8_t> bytes)
{
    const std::uint16_t crc = CRC16B(bytes);
    std::string frame(2 * bytes.size() + 7, ';');
    frame[0] = ':';
    frame[1] = letter;
    char *out = frame.data() + 2;
    for (const std::uint8_t b : bytes)
        out = writeHexByte(out, b);
    out = writeHexByte(out, crcLo(crc));
    writeHexByte(out, crcHi(crc));
    return frame;
}

} // namespace morven

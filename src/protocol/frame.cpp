// The frames that cross the link.
#include "protocol/frame.h"

#include "protocol/checksum.h"
#include "protocol/hexdigits.h"

namespace morven {

std::string buildFrame(char letter, const std::uint8_t *bytes, std::size_t n)
{
    const std::uint16_t crc = crc16Modbus(bytes, n);
    std::string frame(2 * n + 7, ';');
    frame[0] = ':';
    frame[1] = letter;
    char *out = frame.data() + 2;
    for (std::size_t i = 0; i < n; ++i)
        out = writeHexByte(out, bytes[i]);
    out = writeHexByte(out, static_cast<std::uint8_t>(crc & 0xFFu));
    writeHexByte(out, static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

} // namespace morven

// The ":O" and ":W" line formatters DatatoStr2 and DatatoStr3.
#include "records/formatters.h"

#include "protocol/frame.h"

namespace morven {

// A data line is a frame like any other: the chunk's bytes behind the letter, then its CRC.
std::string DatatoStr2(std::span<const std::uint8_t> FrameData)
{
    return buildFrame('O', FrameData);
}

std::string DatatoStr3(std::span<const std::uint8_t> FrameData)
{
    return buildFrame('W', FrameData);
}

} // namespace morven

// The ":O" and ":W" line formatters DatatoStr2 and DatatoStr3.
#pragma once

#include "protocol/workspace.h"

namespace morven {

// Builds a data line for the target into ws.OutStr: the prefix, FrameData[0 .. FrameLen-1]
// as upper-case digit pairs, then CrcLo and CrcHi as left by CRC16B, then ';'. The line is
// 2 * FrameLen + 7 characters long. A FrameLen of 0 or less prints no data bytes; one beyond
// FrameData prints the whole buffer and no more. The CRC is printed, not computed.
void DatatoStr2(Workspace &ws); // ":O" lines
void DatatoStr3(Workspace &ws); // ":W" lines

} // namespace morven

// The record codec: an Intel HEX record line to bytes and back, through the shared buffers.
#pragma once

#include "protocol/hexdigits.h"
#include "protocol/workspace.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace morven {

// What one parse of LineStr did.
struct ParseReport
{
    int converted = 0; // bytes written to HexData, from index 0
    int firstBadPair = -1; // HexData index of the first pair that was not two hex digits, or -1
};

// Parses the record line in ws.LineStr into ws.HexData. A line that does not start with ':'
// is ignored. The number of pairs read comes from the line length (half of it, rounded half
// to even, at most 128, minus the colon's share), so an even count of pairs loses its last
// pair and at most 127 bytes are written. Bytes not reached keep their old contents. A pair
// holding a non-hex character keeps that character's code as its digit value; the low 8 bits
// of the result are stored and the pair is reported.
ParseReport StrtoData(Workspace &ws);
// The same parse under its second name.
ParseReport RectoData(Workspace &ws);

// Formats HexData[0 .. HexData[0]+4] into ws.OutStr as ':' and upper-case digit pairs. The
// checksum is not computed here (see DataLrc). Refuses, leaving OutStr alone and returning
// false, when HexData[0] is above 124, as the record would then run past HexData.
bool DatatoStr(Workspace &ws);

} // namespace morven

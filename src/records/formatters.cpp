// The ":O" and ":W" line formatters DatatoStr2 and DatatoStr3.
#include "records/formatters.h"

#include "protocol/hexcodec.h"

#include <algorithm>
#include <cstddef>

namespace morven {

namespace {

void formatLine(Workspace &ws, char letter)
{
    std::size_t n = 0;
    if (ws.FrameLen > 0)
        n = std::min<std::size_t>(static_cast<std::size_t>(ws.FrameLen), ws.FrameData.size());
    // resize() keeps the string's capacity, so a conversion run reuses one buffer.
    ws.OutStr.resize(2 * n + 7);
    char *out = ws.OutStr.data();
    *out++ = ':';
    *out++ = letter;
    for (std::size_t i = 0; i < n; ++i)
        out = writeHexByte(out, ws.FrameData[i]);
    out = writeHexByte(out, ws.CrcLo);
    out = writeHexByte(out, ws.CrcHi);
    *out = ';';
}

} // namespace

void DatatoStr2(Workspace &ws)
{
    formatLine(ws, 'O');
}

void DatatoStr3(Workspace &ws)
{
    formatLine(ws, 'W');
}

} // namespace morven

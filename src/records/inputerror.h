// Why an input file cannot be used, in words for the operator.
#pragma once

#include "protocol/hexdigits.h"

#include <cstddef>
#include <string>

namespace morven {

// Why an input file cannot be used: the line it concerns (from 1; 0 for the file as a whole) and a
// sentence for the operator.
struct InputError
{
    std::size_t line = 0;
    std::string message;
};

// A character as a message names it: 'G', or "the byte 0x01" when it does not print.
inline std::string describeCharacter(unsigned char c)
{
    if (c >= 0x20 && c < 0x7F)
        return std::string("'") + static_cast<char>(c) + "'";
    return "the byte 0x" + hexByte(c);
}

} // namespace morven

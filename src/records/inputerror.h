#pragma once

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

} // namespace morven

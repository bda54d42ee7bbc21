// The image a station flashes: the recipe's firmware, checked and converted once for every slot.
#pragma once

#include "records/linestore.h"
#include "station/recipe.h"

#include <QString>

#include <optional>

namespace morven::station {

struct Image
{
    LineStore lines; // the download lines, in order
    char letter = 'W'; // the download kind to announce: 'O' for :O lines, else 'W'
    QString fileName; // the firmware's file name, without its folder
    QString sha256; // of the firmware file, lower case
};

// Reads the recipe's firmware, checks its SHA-256 against the recipe's and converts it with every
// check morvenctl flash makes, so a board is only ever touched with the image the engineer chose.
// Refuses an image without download lines or with more than one download can send. `out` is
// only written on success.
[[nodiscard]] std::optional<QString> loadImage(const Recipe &r, Image &out);

} // namespace morven::station

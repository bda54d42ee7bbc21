// The image a station flashes: the recipe's firmware, checked and converted once for every slot.
#pragma once

#include "records/firmwareinput.h"
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
    // When each unit gets a serial number: the file as read and how it is converted, for each
    // unit's own copy (see unitLines).
    QByteArray file;
    InputOptions options;
};

// Reads the recipe's firmware, checks its SHA-256 against the recipe's and converts it with every
// check morvenctl flash makes, so a board is only ever touched with the image the engineer chose.
// Refuses an image without download lines or with more than one download can send. `out` is
// only written on success.
// With a unit serial number, it also keeps the file and tries the first number, so a number that
// would land outside the image is refused before any board is touched.
[[nodiscard]] std::optional<QString> loadImage(const Recipe &r, Image &out);

// The download lines of one unit's copy of the image: `number` written at the serial's address
// (see RecordPatcher), then converted as the image was. `out` is replaced, `letter` is the
// download kind as Image::letter. Refuses a number its form cannot hold, or one that does not land.
[[nodiscard]] std::optional<QString> unitLines(
    const Image &image, const UnitSerial &serial, qint64 number, LineStore &out, char &letter);

} // namespace morven::station

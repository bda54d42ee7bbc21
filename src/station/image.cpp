// The image a station flashes, read and converted once, before any board is touched.
#include "station/image.h"

#include "records/firmwareinput.h"
#include "update/engine.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <string>

namespace morven::station {

std::optional<QString> loadImage(const Recipe &r, Image &out)
{
    const QString name = QStringLiteral("firmware \"%1\"").arg(r.firmware);
    const QFileInfo info(r.firmwarePath);
    if (!info.exists())
        return QStringLiteral("%1: no such file (%2)").arg(name, r.firmwarePath);
    if (info.isDir())
        return QStringLiteral("%1: is a folder, not a file (%2)").arg(name, r.firmwarePath);
    QFile file(r.firmwarePath);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(name, file.errorString());

    // Hashed and converted in one pass, so a big file costs no copy of itself; the digest is
    // judged first, as a conversion's complaint about the wrong file would mislead.
    InputOptions options;
    options.format = r.format;
    options.inputFormat = r.inputFormat;
    options.address = r.address;
    Image image;
    std::size_t made = 0;
    FirmwareInput input(options, [&](std::string_view line) {
        if (++made <= MaxDownloadLines)
            image.lines.append(line);
    });
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::optional<InputError> error;
    std::string chunk(1 << 20, '\0');
    for (;;) {
        const qint64 n = file.read(chunk.data(), qint64(chunk.size()));
        if (n < 0)
            return QStringLiteral("%1: cannot be read: %2").arg(name, file.errorString());
        if (n == 0)
            break;
        hash.addData(QByteArrayView(chunk.data(), n));
        if (r.serial)
            image.file.append(chunk.data(), n);
        if (!error)
            error = input.feed(std::string_view(chunk.data(), std::size_t(n)));
    }
    if (!error)
        error = input.finish();

    image.sha256 = QString::fromLatin1(hash.result().toHex());
    if (image.sha256 != r.sha256)
        return QStringLiteral("%1: its SHA-256 is %2..., but the recipe's \"sha256\" is %3...: not the file the "
                              "recipe was written for")
            .arg(name, image.sha256.left(12), r.sha256.left(12));
    if (error)
        return error->line == 0
            ? QStringLiteral("%1: %2").arg(name, QString::fromStdString(error->message))
            : QStringLiteral("%1: line %2: %3").arg(name).arg(error->line).arg(QString::fromStdString(error->message));
    if (made == 0)
        return QStringLiteral("%1: yields no download line").arg(name);
    if (made > MaxDownloadLines)
        return QStringLiteral("%1: %2 download lines: one download can send at most %3")
            .arg(name)
            .arg(made)
            .arg(MaxDownloadLines);
    image.letter = input.letter() == 'O' ? 'O' : 'W';
    image.fileName = info.fileName();
    if (r.serial) {
        image.options = options;
        LineStore trial;
        char letter = 0;
        if (auto why = unitLines(image, *r.serial, r.serial->first, trial, letter))
            return QStringLiteral("%1: %2").arg(name, *why);
    }
    out = std::move(image);
    return std::nullopt;
}

std::optional<QString> unitLines(
    const Image &image, const UnitSerial &serial, qint64 number, LineStore &out, char &letter)
{
    Patch patch{serial.address, {}};
    if (auto why = serialBytes(serial, number, patch.bytes))
        return why;
    InputOptions options = image.options;
    options.patch = std::move(patch);
    LineStore lines;
    // The copy differs from the image in a few bytes and perhaps one added line.
    lines.reserve(image.lines.size() + 1, image.lines.byteSize() + 256);
    std::size_t made = 0;
    FirmwareInput input(options, [&](std::string_view line) {
        if (++made <= MaxDownloadLines)
            lines.append(line);
    });
    std::optional<InputError> error
        = input.feed(std::string_view(image.file.constData(), std::size_t(image.file.size())));
    if (!error)
        error = input.finish();
    if (error)
        return error->line == 0
            ? QStringLiteral("unit_serial.address: %1").arg(QString::fromStdString(error->message))
            : QStringLiteral("unit_serial: line %1: %2").arg(error->line).arg(QString::fromStdString(error->message));
    if (made > MaxDownloadLines)
        return QStringLiteral("unit_serial: with the number added, %1 download lines: one download can send at most %2")
            .arg(made)
            .arg(MaxDownloadLines);
    letter = input.letter() == 'O' ? 'O' : 'W';
    out = std::move(lines);
    return std::nullopt;
}

} // namespace morven::station

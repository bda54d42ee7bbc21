// The station's recipe reader on any bytes, as an engineer's editor or a damaged file may leave them.
//
// Input: the recipe file. Properties: no crash; a refusal is a sentence; an accepted recipe keeps
// its limits (a slot or more, each label and each port once, numbers in range, a SHA-256 of 64
// lower-case digits, a unit serial number whose first number fits its form and address), and
// recipeJson reads back to the same recipe, every field.
#include "fuzzcheck.h"

#include "station/recipe.h"

using namespace morven::station;

namespace {

// The port a slot names, as a string that is equal for two slots on one board.
QString portKey(const PortName &p)
{
    switch (p.kind) {
    case PortKind::Device:
        return QStringLiteral("dev ") + p.device;
    case PortKind::UsbSerial:
        return QStringLiteral("usb ") + p.usbSerial;
    case PortKind::Tcp:
        return QStringLiteral("tcp %1 %2").arg(p.host.toLower()).arg(p.port);
    }
    return QString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString folder = QStringLiteral("/srv/recipes");
    Recipe r;
    if (const std::optional<QString> why = parseRecipe(json, folder, r)) {
        FUZZ_CHECK(why->trimmed().size() > 8);
        FUZZ_CHECK(r == Recipe());
        return 0;
    }
    FUZZ_CHECK(!r.slotList.empty());
    FUZZ_CHECK(r.sha256.size() == 64 && r.sha256 == r.sha256.toLower());
    FUZZ_CHECK(!r.address || r.inputFormat == morven::InputFormat::Binary);
    FUZZ_CHECK(r.baud >= MinBaud && r.baud <= MaxBaud);
    FUZZ_CHECK(r.replyTimeoutMs >= MinReplyTimeoutMs && r.replyTimeoutMs <= MaxReplyTimeoutMs);
    FUZZ_CHECK(r.probeIntervalMs >= MinProbeIntervalMs && r.probeIntervalMs <= MaxProbeIntervalMs);
    FUZZ_CHECK(r.leaveProbes >= MinLeaveProbes && r.leaveProbes <= MaxLeaveProbes);
    FUZZ_CHECK(r.firmwarePath.startsWith(QLatin1Char('/')));
    for (std::size_t i = 0; i < r.slotList.size(); ++i)
        for (std::size_t j = i + 1; j < r.slotList.size(); ++j) {
            FUZZ_CHECK(r.slotList[i].label != r.slotList[j].label);
            FUZZ_CHECK(portKey(r.slotList[i].port) != portKey(r.slotList[j].port));
        }

    FUZZ_CHECK(r.serial.has_value() == !r.unitSerial.isEmpty());
    std::string bytes; // the first number fits its form, and the form fits below 4 GiB
    FUZZ_CHECK(!r.serial
        || (!serialBytes(*r.serial, r.serial->first, bytes)
            && r.serial->address + std::uint64_t(bytes.size()) <= (std::uint64_t(1) << 32)));
    Recipe back;
    FUZZ_CHECK(!parseRecipe(recipeJson(r), folder, back));
    FUZZ_CHECK(back == r);
    return 0;
}

// The production station: a recipe's slots, each on its own loop, and a record for every unit.
#include "station/station.h"

#include "link/serialports.h"
#include "station/logging.h"
#include "version.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

namespace morven::station {

Station::Station(QObject *parent)
    : QObject(parent)
{
}

Station::~Station()
{
    slots_.clear();
    records_.reset();
}

std::optional<QString> Station::open(const QString &recipePath, const StationOptions &options)
{
    options_ = options;
    if (options_.stationName.isEmpty())
        options_.stationName = QSysInfo::machineHostName();
    if (const auto why = readRecipe(recipePath, recipe_))
        return why;
    if (const auto why = loadImage(recipe_, image_))
        return why;
    const QString where = options_.records.isEmpty() ? UnitRecords::defaultPath() : options_.records;
    records_ = std::make_unique<RecordWriter>();
    int interrupted = 0;
    if (const auto why = records_->open(where, options_.stationName, &interrupted)) {
        records_.reset();
        return QStringLiteral("records %1: %2").arg(where, *why);
    }
    connect(records_.get(), &RecordWriter::written, this, &Station::onWritten);
    if (interrupted > 0)
        qCInfo(lcStation) << interrupted << "units left running by an earlier run marked interrupted";
    for (const RecipeSlot &entry : recipe_.slotList) {
        const std::size_t index = slots_.size();
        slots_.push_back(std::make_unique<Slot>(setupFor(entry)));
        Slot *slot = slots_.back().get();
        connect(slot, &Slot::unitStarted, this, [this, index] { onUnitStarted(index); });
        connect(slot, &Slot::unitEnded, this, [this, index] { onUnitEnded(index); });
        connect(slot, &Slot::changed, this, [this, index] { emit slotChanged(index); });
    }
    current_.resize(slots_.size());
    return std::nullopt;
}

SlotSetup Station::setupFor(const RecipeSlot &entry)
{
    SlotSetup s;
    s.label = entry.label;
    s.port = entry.port.text;
    s.timing.replyTimeoutMs = recipe_.replyTimeoutMs;
    s.timing.probeIntervalMs = recipe_.probeIntervalMs;
    s.timing.waitTimeoutMs = 0;
    s.leaveProbes = recipe_.leaveProbes;
    s.lines = &image_.lines;
    s.letter = image_.letter;
    const PortName port = entry.port;
    const qint32 baud = recipe_.baud;
    switch (port.kind) {
    case PortKind::Device:
        s.portExists = [device = port.device] { return QFileInfo::exists(device); };
        s.makeLink = [device = port.device, baud](QString &) { return std::make_unique<SerialStreamLink>(device, baud); };
        break;
    case PortKind::UsbSerial:
        s.portExists = [this, serial = port.usbSerial] { return usbSerials().contains(serial); };
        s.makeLink = [serial = port.usbSerial, baud](QString &why) -> std::unique_ptr<StreamLink> {
            QString device;
            if (const auto problem = resolveSerialDevice(QLatin1String("usb:") + serial, listSerialPorts(), device)) {
                why = *problem;
                return nullptr;
            }
            return std::make_unique<SerialStreamLink>(device, baud);
        };
        break;
    case PortKind::Tcp:
        // One attempt a probe: a target that does not take the connection is not there yet.
        s.makeLink = [host = port.host, tcpPort = port.port](QString &) {
            return std::make_unique<TcpStreamLink>(host, tcpPort, 0);
        };
        break;
    }
    return s;
}

QList<QString> Station::usbSerials()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (usbListedAt_ < 0 || now - usbListedAt_ >= 500) {
        usbSerials_.clear();
        for (const SerialPortRow &row : listSerialPorts())
            if (!row.serialNumber.isEmpty())
                usbSerials_ << row.serialNumber;
        usbListedAt_ = now;
    }
    return usbSerials_;
}

void Station::run()
{
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        slots_[i]->run();
        emit event(i, 0, QStringLiteral("waiting"), QJsonObject{{QStringLiteral("port"), slots_[i]->port()}});
    }
}

void Station::startSlot(std::size_t index)
{
    if (index < slots_.size())
        slots_[index]->startNow();
}

void Station::startAll()
{
    for (auto &slot : slots_)
        slot->startNow();
}

void Station::stop()
{
    for (auto &slot : slots_)
        slot->stop();
    if (records_)
        records_->flush();
}

void Station::onUnitStarted(std::size_t index)
{
    Slot &slot = *slots_[index];
    UnitRecord &r = current_[index];
    r = UnitRecord();
    r.unitId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.slot = slot.label();
    r.port = slot.port();
    r.station = options_.stationName;
    r.operatorName = options_.operatorName;
    r.recipe = recipe_.name;
    r.firmware = image_.fileName;
    r.sha256 = image_.sha256;
    r.toolVersion = QStringLiteral(MORVEN_VERSION);
    r.startedAt = slot.unit().startedAt;
    r.linesTotal = qint64(slot.unit().linesTotal);
    unitNumbers_.insert(r.unitId, slot.unit().number);
    records_->start(r, index);
    emit event(index, slot.unit().number, QStringLiteral("started"),
        QJsonObject{{QStringLiteral("unit_id"), r.unitId}, {QStringLiteral("port"), r.port}});
}

void Station::onUnitEnded(std::size_t index)
{
    const UnitReport &u = slots_[index]->unit();
    UnitRecord r = current_[index];
    r.endedAt = u.endedAt;
    r.result = u.interrupted ? UnitResult::Interrupted : u.passed ? UnitResult::Passed : UnitResult::Failed;
    r.phase = u.phase;
    r.reason = u.reason;
    r.linesSent = qint64(u.linesSent);
    r.retries = qint64(u.retries);
    r.seconds = u.seconds;
    records_->end(r, index);
}

void Station::onWritten(std::size_t index, const UnitRecord &r, bool start, const QString &error)
{
    Slot &slot = *slots_[index];
    const int number = start ? unitNumbers_.value(r.unitId) : unitNumbers_.take(r.unitId);
    if (!error.isEmpty()) {
        // An unrecorded unit is what traceability forbids: this slot flashes nothing more.
        recordTrouble_ = error;
        qCWarning(lcStation).noquote() << slot.label() << "cannot record unit" << r.unitId << ":" << error;
        emit event(index, number, QStringLiteral("record-failed"),
            QJsonObject{{QStringLiteral("unit_id"), r.unitId}, {QStringLiteral("reason"), error}});
        if (slot.phase() != Slot::Phase::Stopped)
            slot.stop();
        return;
    }
    if (start)
        return;
    QJsonObject details{{QStringLiteral("unit_id"), r.unitId}, {QStringLiteral("seconds"), r.seconds},
        {QStringLiteral("lines"), r.linesSent}, {QStringLiteral("of"), r.linesTotal}};
    if (r.result != UnitResult::Passed)
        details.insert(QStringLiteral("reason"), r.reason);
    ++ended_;
    if (r.result == UnitResult::Passed)
        ++passed_;
    emit event(index, number, resultName(r.result), details);
}

} // namespace morven::station

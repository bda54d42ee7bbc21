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

namespace {
// What the records need of the recipe's unit serial: the series and the form it is written in.
std::optional<SerialRequest> serialRequest(const Recipe &r)
{
    if (!r.serial)
        return std::nullopt;
    return SerialRequest{r.serial->series, qint64(r.serial->address), formatName(*r.serial), r.serial->first,
        maxNumber(*r.serial)};
}
} // namespace

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
    const QString queue = options_.queue.isEmpty() ? UnitRecords::defaultPath() : options_.queue;
    records_ = std::make_unique<RecordWriter>();
    int interrupted = 0;
    if (const auto why = records_->open(where, queue, options_.stationName, &interrupted)) {
        records_.reset();
        return QStringLiteral("records: %1").arg(*why);
    }
    serial_ = serialRequest(recipe_);
    if (serial_)
        if (const auto why = records_->checkSeries(*serial_)) {
            records_.reset();
            return why;
        }
    connect(records_.get(), &RecordWriter::written, this, &Station::onWritten);
    connect(records_.get(), &RecordWriter::reachChanged, this, &Station::onReach);
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
    // Units with serial numbers each get their own lines, once their number is taken.
    s.lines = serialRequest(recipe_) ? nullptr : &image_.lines;
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
    records_->start(r, index, serial_);
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
    r.linesTotal = qint64(u.linesTotal);
    records_->end(r, index);
}

QString Station::recordsState() const
{
    if (!recordTrouble_.isEmpty())
        return QStringLiteral("cannot record units: %1").arg(recordTrouble_);
    if (!reachable_)
        return QStringLiteral("record database out of reach (%1); %2 records wait on this station").arg(away_).arg(queued_);
    if (queued_ > 0)
        return QStringLiteral("%1 records wait on this station").arg(queued_);
    return QString();
}

void Station::onReach(bool reachable, int queued, const QString &why)
{
    const bool back = reachable && !reachable_;
    reachable_ = reachable;
    away_ = why;
    queued_ = queued;
    emit recordsChanged();
    if (back)
        for (auto &slot : slots_)
            slot->resume();
}

void Station::beginNumbered(std::size_t index, const UnitRecord &r)
{
    Slot &slot = *slots_[index];
    current_[index] = r;
    auto lines = std::make_shared<LineStore>();
    char letter = image_.letter;
    if (const auto why = unitLines(image_, *recipe_.serial, *r.serial, *lines, letter)) {
        // Its number is taken and recorded: the unit ends failed with it, so the gap is explained.
        slot.failUnit(*why);
        return;
    }
    slot.beginUnit(std::move(lines), letter);
}

void Station::onWritten(std::size_t index, const UnitRecord &r, bool start, WriteOutcome outcome, const QString &error)
{
    Slot &slot = *slots_[index];
    if (start && outcome == WriteOutcome::Held) {
        // Nothing was sent to the board: it waits, as it is, until the records are back.
        unitNumbers_.remove(r.unitId);
        slot.holdUnit(error);
        emit event(index, 0, QStringLiteral("held"), QJsonObject{{QStringLiteral("reason"), error}});
        return;
    }
    if (start && serial_ && outcome == WriteOutcome::Written && slot.phase() == Slot::Phase::Flashing)
        beginNumbered(index, r);
    const int number = start ? unitNumbers_.value(r.unitId) : unitNumbers_.take(r.unitId);
    if (outcome == WriteOutcome::Failed) {
        // An unrecorded unit is what traceability forbids: this slot flashes nothing more.
        recordTrouble_ = error;
        qCWarning(lcStation).noquote() << slot.label() << "cannot record unit" << r.unitId << ":" << error;
        emit event(index, number, QStringLiteral("record-failed"),
            QJsonObject{{QStringLiteral("unit_id"), r.unitId}, {QStringLiteral("reason"), error}});
        if (slot.phase() != Slot::Phase::Stopped)
            slot.stop(QStringLiteral("its units cannot be recorded"));
        return;
    }
    if (start)
        return;
    QJsonObject details{{QStringLiteral("unit_id"), r.unitId}, {QStringLiteral("seconds"), r.seconds},
        {QStringLiteral("lines"), r.linesSent}, {QStringLiteral("of"), r.linesTotal}};
    if (r.serial)
        details.insert(QStringLiteral("serial"), QString::number(*r.serial));
    if (r.result != UnitResult::Passed)
        details.insert(QStringLiteral("reason"), r.reason);
    ++ended_;
    if (r.result == UnitResult::Passed)
        ++passed_;
    emit event(index, number, resultName(r.result), details);
}

} // namespace morven::station

#include "moc_station.cpp"

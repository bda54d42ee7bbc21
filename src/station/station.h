// The production station: a recipe's slots, each on its own loop, and a record for every unit.
#pragma once

#include "station/image.h"
#include "station/recipe.h"
#include "station/slot.h"
#include "station/recordwriter.h"
#include "station/unitrecords.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace morven::station {

struct StationOptions
{
    // Where the unit records go: a SQLite file or a postgresql:// URI; empty:
    // UnitRecords::defaultPath()
    QString records;
    // Where records wait while a shared database is out of reach; empty: UnitRecords::defaultPath()
    QString queue;
    QString operatorName;
    QString stationName; // empty: the host name
};

// What the window and `morvenctl station` show: the recipe, the image, the slots and the units.
// Both only show it; the loop, the presence rule and the records are all here.
class Station : public QObject
{
    Q_OBJECT
public:
    explicit Station(QObject *parent = nullptr);
    ~Station() override;

    // Reads the recipe, checks and converts its firmware once and opens the records; units that
    // a killed station left running become "interrupted". The reason when anything is wrong:
    // then no slot exists and no frame has been sent.
    [[nodiscard]] std::optional<QString> open(const QString &recipePath, const StationOptions &options);

    // Every slot starts watching its position.
    void run();
    // "Start": the slot flashes the board it has now, even one left in place.
    void startSlot(std::size_t index);
    void startAll();
    // Every unit in progress is recorded as interrupted and every slot stops; returns once the
    // records are written and their events delivered.
    void stop();
    // The operator named in the records of units started from now on.
    void setOperatorName(const QString &name) { options_.operatorName = name; }

    const Recipe &recipe() const { return recipe_; }
    const Image &image() const { return image_; }
    const StationOptions &options() const { return options_; }
    std::size_t slotCount() const { return slots_.size(); }
    const Slot &slot(std::size_t index) const { return *slots_[index]; }
    // Units recorded as ended, and how many of them passed.
    int unitsEnded() const { return ended_; }
    int unitsPassed() const { return passed_; }
    // A slot whose units cannot be recorded does not start another: the reason, or empty.
    QString recordTrouble() const { return recordTrouble_; }
    // Whether the shared record database is in reach; when it is not, why, and how many writes
    // wait in the local queue.
    bool recordsReachable() const { return reachable_; }
    QString recordsAway() const { return away_; }
    int recordsQueued() const { return queued_; }
    // What the header says about the records: empty while all is well.
    QString recordsState() const;

signals:
    // One line of the station's log: the slot, its unit number (0 outside a unit), the event
    // ("waiting", "started", "passed", "failed", "interrupted", "record-failed") and its details.
    void event(std::size_t slot, int unit, const QString &name, const QJsonObject &details);
    // A slot's state text or progress changed.
    void slotChanged(std::size_t slot);
    // The records went out of reach, came back, or their queue changed.
    void recordsChanged();

private:
    SlotSetup setupFor(const RecipeSlot &entry);
    void onUnitStarted(std::size_t index);
    void onUnitEnded(std::size_t index);
    void onWritten(std::size_t index, const UnitRecord &r, bool start, WriteOutcome outcome, const QString &error);
    void onReach(bool reachable, int queued, const QString &why);
    void beginNumbered(std::size_t index, const UnitRecord &r);
    QList<QString> usbSerials();

    Recipe recipe_;
    Image image_;
    StationOptions options_;
    std::unique_ptr<RecordWriter> records_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<UnitRecord> current_; // each slot's unit in progress
    QHash<QString, int> unitNumbers_; // unit id -> its number in its slot, until its end is written
    int ended_ = 0;
    int passed_ = 0;
    QString recordTrouble_;
    bool reachable_ = true;
    QString away_;
    int queued_ = 0;
    std::optional<SerialRequest> serial_; // where units' serial numbers come from
    // USB serial numbers present, looked up at most every half second for all slots together.
    QList<QString> usbSerials_;
    qint64 usbListedAt_ = -1;
};

} // namespace morven::station

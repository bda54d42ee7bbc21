// morvenctl station: the production station without a window, one line per event.
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/interrupts.h"
#include "cmdline/cmdline.h"
#include "station/station.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

namespace morven::cli {

namespace {

void printLine(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "A1 unit 3 passed in 12.4 s" and the like; the details a person needs, not every field.
QString plainLine(const QString &label, int unit, const QString &name, const QJsonObject &d)
{
    QString line = label;
    if (unit > 0)
        line += QStringLiteral(" unit %1").arg(unit);
    line += QLatin1Char(' ') + name;
    if (name == QLatin1String("waiting"))
        line += QStringLiteral(" for a board on %1").arg(d.value(QStringLiteral("port")).toString());
    if (d.contains(QStringLiteral("seconds")))
        line += QStringLiteral(" in %1 s").arg(d.value(QStringLiteral("seconds")).toDouble(), 0, 'f', 1);
    if (d.contains(QStringLiteral("reason")))
        line += QStringLiteral(": ") + d.value(QStringLiteral("reason")).toString();
    return line;
}

} // namespace

int runStation(const QStringList &args)
{
    CommandLine cl(QStringLiteral("station"),
        QStringLiteral("Runs a production station from its recipe: every slot waits for a board, flashes it by "
                       "itself, records the unit and waits for the board to leave, until interrupted or --units "
                       "units are recorded. The recipe and its firmware are checked completely before any link "
                       "is opened."));
    const QCommandLineOption records("records",
        "Where the unit records go: a SQLite file (default: the user's data folder) or a PostgreSQL database that "
        "a line of stations shares, postgresql://user@host:port/database (password from PGPASSWORD or ~/.pgpass).",
        "where");
    const QCommandLineOption queue("queue",
        "With a PostgreSQL database: the SQLite file where records wait while it is out of reach (default: the "
        "user's data folder).",
        "path");
    const QCommandLineOption operatorName("operator", "The operator's name, kept in every record.", "name");
    const QCommandLineOption stationName("station",
        "The station's name in the records (default: the host name); stations sharing a database need their own.",
        "name");
    const QCommandLineOption json("json", "Write events as JSON lines on standard output.");
    const QCommandLineOption units("units", "End once this many units have been recorded.", "n");
    for (const QCommandLineOption *o : {&records, &queue, &stationName, &operatorName, &json, &units})
        cl.add(*o);
    cl.positional(QStringLiteral("recipe"), QStringLiteral("The station's recipe (a JSON file)."), 1, 1);
    if (!cl.parse(args))
        return Ok;
    const int wanted = cl.isSet(units) ? cl.integer(units, "a number of units", 1, 1000000000) : 0;

    station::Station station;
    station::StationOptions options;
    options.records = cl.value(records);
    options.queue = cl.value(queue);
    options.operatorName = cl.value(operatorName);
    options.stationName = cl.value(stationName);
    if (const auto why = station.open(cl.arguments().constFirst(), options))
        fail(BadInput, *why);

    const bool asJson = cl.isSet(json);
    // --units counts units whose records reached the database: queued ones are sent first.
    const auto enough = [&] { return wanted > 0 && station.unitsEnded() >= wanted && station.recordsQueued() == 0; };
    QObject::connect(&station, &station::Station::recordsChanged, &station, [&] {
        const QJsonObject o{{QStringLiteral("event"), QStringLiteral("records")},
            {QStringLiteral("reachable"), station.recordsReachable()}, {QStringLiteral("queued"), station.recordsQueued()},
            {QStringLiteral("reason"), station.recordsAway()}};
        if (asJson)
            printLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
        else
            printLine(station.recordsState().isEmpty() ? QStringLiteral("records: the database is in reach again")
                                                       : QStringLiteral("records: ") + station.recordsState());
        if (enough())
            QCoreApplication::quit();
    });
    QObject::connect(&station, &station::Station::event, &station,
        [&](std::size_t index, int unit, const QString &name, const QJsonObject &details) {
            const QString label = station.slot(index).label();
            if (asJson) {
                QJsonObject o = details;
                o.insert(QStringLiteral("slot"), label);
                o.insert(QStringLiteral("unit"), unit);
                o.insert(QStringLiteral("event"), name);
                printLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
            } else {
                printLine(plainLine(label, unit, name, details));
            }
            if (enough())
                QCoreApplication::quit();
        });
    int signalled = 0;
    Interrupts interrupts;
    QObject::connect(&interrupts, &Interrupts::interrupted, &interrupts, [&](int number) {
        signalled = number;
        QCoreApplication::quit();
    });
    station.run();
    QCoreApplication::exec();
    // Every unit still running is recorded as interrupted, with a last line for its slot.
    station.stop();
    for (std::size_t i = 0; i < station.slotCount(); ++i) {
        const station::Slot &slot = station.slot(i);
        const QString last = QStringLiteral("%1 %2: %3 passed, %4 failed")
                                 .arg(slot.label(), slot.stateText())
                                 .arg(slot.passed())
                                 .arg(slot.failed());
        if (asJson)
            printLine(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("slot"), slot.label()},
                                                         {QStringLiteral("event"), QStringLiteral("stopped")},
                                                         {QStringLiteral("state"), slot.stateText()},
                                                         {QStringLiteral("passed"), slot.passed()},
                                                         {QStringLiteral("failed"), slot.failed()}})
                                            .toJson(QJsonDocument::Compact)));
        else
            printLine(last);
    }
    if (signalled)
        return 128 + signalled;
    return station.recordTrouble().isEmpty() ? Ok : Internal;
}

} // namespace morven::cli

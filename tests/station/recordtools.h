// What the record tests share: a unit to record, SQL of the test's own, a refusal made comparable.
#pragma once

#include "station/unitrecords.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrlQuery>

namespace morven::test {

// The reason, or "ok", so that a failed comparison shows it.
inline QString said(const std::optional<QString> &why)
{
    return why.value_or("ok");
}

inline QDateTime at(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

inline station::UnitRecord unit(const QString &id, const QString &stationName,
    const char *started = "2024-05-01T08:00:00.000Z", const QString &recipe = "rev C")
{
    station::UnitRecord r;
    r.unitId = id;
    r.slot = "A1";
    r.port = "tcp:127.0.0.1:7001";
    r.station = stationName;
    r.operatorName = "Zoë";
    r.recipe = recipe;
    r.firmware = "controller-3.2.hex";
    r.sha256 = QString(64, QLatin1Char('a'));
    r.toolVersion = "1.16";
    r.startedAt = at(started);
    return r;
}

// SQL through a connection of the test's own, for what the records would never write: on a
// SQLite file, or on the PostgreSQL database of a postgresql:// URI.
inline void rawSql(const QString &where, const QStringList &statements)
{
    {
        const QUrl url(where);
        const bool server = url.scheme() == QLatin1String("postgresql");
        QSqlDatabase db = QSqlDatabase::addDatabase(server ? "QPSQL" : "QSQLITE", "raw");
        db.setDatabaseName(server ? url.path().mid(1) : where);
        db.setUserName(url.userName());
        db.setHostName(QUrlQuery(url).queryItemValue("host"));
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(where), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        for (const QString &s : statements)
            if (!q.exec(s))
                qFatal("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase("raw");
}

} // namespace morven::test

// The run's PostgreSQL cluster, driven through scripts/pg-cluster.
#include "support/pgcluster.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUrl>
#include <QUrlQuery>

namespace morven::test {

namespace {

QByteArray cluster(const QStringList &args)
{
    const QString script = qEnvironmentVariable("MORVEN_PG_CLUSTER");
    const QString state = qEnvironmentVariable("MORVEN_PG_STATE");
    if (script.isEmpty() || state.isEmpty())
        qFatal("no PostgreSQL cluster for this run: CTest starts one (the postgres fixture)");
    QProcess p;
    p.start(script, QStringList{args.front(), state} + args.mid(1));
    if (!p.waitForFinished(90000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("pg-cluster %s failed: %s", qPrintable(args.join(' ')), p.readAllStandardError().constData());
    return p.readAllStandardOutput().trimmed();
}

} // namespace

QString pgDatabase(const QString &name)
{
    const QString db = QStringLiteral("%1_%2").arg(name).arg(QCoreApplication::applicationPid());
    const QString uri = QString::fromUtf8(cluster({QStringLiteral("uri"), db}));
    // Only the cluster's own socket: no test ever sends a packet to a server elsewhere.
    const QString host = QUrlQuery(QUrl(uri)).queryItemValue(QStringLiteral("host"));
    if (!QUrl(uri).host().isEmpty() || !host.startsWith(QLatin1Char('/')))
        qFatal("refusing the database %s: not the run's own Unix socket", qPrintable(uri));
    return uri;
}

void pgPause()
{
    cluster({QStringLiteral("pause")});
}

void pgResume()
{
    cluster({QStringLiteral("resume")});
}

} // namespace morven::test

// The run's PostgreSQL cluster, driven through scripts/pg-cluster.
#include "support/pgcluster.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
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
    // The event loop keeps running meanwhile: the simulated targets in this process go on
    // answering while the server stops or starts.
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(90000, &loop, &QEventLoop::quit);
    p.start(script, QStringList{args.front(), state} + args.mid(1));
    loop.exec();
    if (p.state() != QProcess::NotRunning || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
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

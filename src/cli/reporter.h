// morvenctl's progress lines, JSON events and closing lines.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace morven::station {
class FlashJob;
}

namespace morven::cli {

using station::FlashJob;

// Tells the operator how the targets are doing: a progress line per target on stderr (redrawn
// in place on a terminal; plain, stable lines otherwise, for wrappers to parse), JSON events on
// stdout when asked for, and a summary at the end.
class Reporter : public QObject
{
    Q_OBJECT
public:
    Reporter(bool json, bool quiet, QObject *parent = nullptr);

    void add(FlashJob *job);
    // The closing lines; call once every job has finished.
    void summary();

private:
    struct Entry
    {
        FlashJob *job = nullptr;
        QElapsedTimer downloadClock;
        qint64 lastPlainMs = -1;
        int lastPercent = -1;
    };

    void onStage(Entry &e);
    void onProgress(Entry &e);
    void onFinished(Entry &e);
    void redraw();
    QString progressText(const Entry &e) const;
    // The closing line of one target: what it did, or what went wrong and where it was left.
    QString outcome(const FlashJob &job) const;
    void event(const QString &json);

    bool json_;
    bool quiet_;
    bool tty_;
    int drawnLines_ = 0;
    QTimer redrawTimer_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

} // namespace morven::cli

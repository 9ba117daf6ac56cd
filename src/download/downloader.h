#pragma once

#include "download/outputparser.h"
#include "download/stagingfolder.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <functional>
#include <future>

class QThread;
class QTimer;

// One video's download: runs the stream fetcher in a staging folder of its
// own, then the finishing step, and reports through valueChanged. Its creator
// deletes it on the final report.
class downloader : public QObject
{
    Q_OBJECT

public:
    // Poll intervals in ms. A child's end is acted on at once; the ticks only
    // read progress. Tests lengthen them to show that nothing waits for one.
    struct Intervals
    {
        int fetchingFirst = 500;
        int fetching = 1000;
        int finishing = 200;
    };
    static Intervals intervals;

    downloader(int ID, int fixMp4, QString pageUrl, QString folder);
    ~downloader() override;

    // Called on a worker thread just before the finished video gets its full
    // path `target`, with the file that gets it; again when it got another name.
    using PlacingHook = std::function<void(const QString &target, const QString &file)>;
    void onPlacing(PlacingHook hook) { placingHook = std::move(hook); }

    // The thread children are started from, made on first use; it lives as
    // long as the application.
    static QThread *starterThread();

signals:
    void valueChanged(int ID, int percent1, int percent2, int err, QString errmsg);

public slots:
    void pollProcess();

private:
    struct Placed
    {
        QString error;
        QString target;
    };

    void startChild();
    void startOffThread(const QString &program, const QStringList &arguments);
    void childStarted();
    void wake();
    void readOutput();
    void readFlood();
    void scanOutput();
    bool placing() const;
    void reportProgress();
    void childEnded();
    void endFetching();
    void beginFinishing();
    void endConverting();
    void startPlacing(const QString &source);
    void endPlacing();
    void fail(const QString &errmsg);
    QString fetched() const;
    QString converted() const;
    qint64 roomLeft() const;
    bool keepPartial();

    QTimer *timer = nullptr;
    QString folder;
    outputparser::State text;
    QProcess process;
    int ID = 0;
    int fixMp4 = 0;
    int phase = 1;
    QString pageUrl;
    QString fetcherPath;
    StagingFolder staging;
    QString stagingProblem;
    QString target; // the claimed name of the finished video
    bool startFailed = false;
    bool metCarriageReturn = false;
    bool ended = false;
    bool awaitingChild = true; // until the child asked for is started
    // Flushing and renaming run on a worker thread: flushing a large file to
    // a slow disk would otherwise stop the window for seconds.
    std::future<Placed> placement;
    std::future<void> startInFlight;
    PlacingHook placingHook;
};

#pragma once

#include "download/fetchstep.h"
#include "download/finishstep.h"
#include "download/outputparser.h"
#include "download/stagingfolder.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <functional>
#include <future>
#include <memory>

class QThread;
class QTimer;

// One video's download: runs the stream fetcher in a staging folder of its
// own (FetchStep says what its end means), then the finishing step
// (FinishStep), and reports through valueChanged. Its creator deletes it on
// the final report.
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
    using PlacingHook = FinishStep::PlacingHook;
    void onPlacing(PlacingHook hook) { placingHook = std::move(hook); }

    // The thread children are started from, made on first use; it lives as
    // long as the application.
    static QThread *starterThread();

signals:
    void valueChanged(int ID, int percent1, int percent2, int err, QString errmsg);

public slots:
    void pollProcess();

private:
    void startChild();
    void startFetcher();
    void startOffThread(const QString &program, const QStringList &arguments);
    void childStarted();
    void wake();
    void readOutput();
    void readFlood();
    void scanOutput();
    void reportProgress();
    void childEnded();
    void endFetching();
    void beginFinishing();
    void endConverting();
    void startPlacing();
    void endPlacing();
    void fail(const QString &errmsg);

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
    FetchStep fetch{staging, text};
    std::unique_ptr<FinishStep> finish; // from the fetch-done report on
    bool startFailed = false;
    bool metCarriageReturn = false;
    bool ended = false;
    bool awaitingChild = true; // until the child asked for is started
    std::future<void> startInFlight;
    PlacingHook placingHook;
};

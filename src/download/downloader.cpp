#include "download/downloader.h"

#include "external/externalprograms.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

downloader::Intervals downloader::intervals;

downloader::downloader(int ID, int fixMp4, QString pageUrl, QString folder)
    : folder(folder)
    , ID(ID)
    , fixMp4(fixMp4)
    , pageUrl(pageUrl)
{
    stagingProblem = staging.open(folder, pageUrl);
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            startFailed = true;
            wake();
        }
    });
    connect(&process, &QProcess::finished, this, &downloader::wake);
    // Standard output is never read; discarding it keeps a talkative child from
    // blocking on a full pipe.
    process.setStandardOutputFile(QProcess::nullDevice());
    // Children work in the checked staging folder, never reached by its path.
    external::runAsChild(process, staging.descriptor());
    connect(&process, &QProcess::readyReadStandardError, this, &downloader::readFlood);

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &downloader::pollProcess);
    timer->start(intervals.fetchingFirst);
    // The child gets the program and the environment of this moment, though
    // it starts from the event loop: a job never reports inside its creation.
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    fetcherPath = QStandardPaths::findExecutable(external::fetcherProgram());
    QMetaObject::invokeMethod(this, &downloader::startChild, Qt::QueuedConnection);
}

downloader::~downloader()
{
    // A job deleted while its child runs ends the child; a partial fetched
    // file stays for a later try, a half-converted file goes with `finish`.
    // A child being started is the starter thread's until it is handed back.
    if (startInFlight.valid())
        startInFlight.wait();
    process.disconnect(this);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    // With nothing fetched, the folder holds only its lock: no trace is left.
    finish.reset();
    staging.removeIfEmpty();
}

void downloader::startChild()
{
    if (phase == 2) {
        startOffThread(external::converterProgram(), finish->converterArguments());
        return;
    }
    if (!stagingProblem.isEmpty()) {
        fail(stagingProblem);
        return;
    }
    if (const QString failure = fetch.keptTooLarge(); !failure.isEmpty()) {
        fail(failure);
        return;
    }
    // A video fetched whole by an earlier run needs neither the fetcher nor the portal.
    if (fetch.foundWhole()) {
        awaitingChild = false;
        beginFinishing();
        return;
    }
    startOffThread(fetcherPath.isEmpty() ? external::fetcherProgram() : fetcherPath,
                   external::fetcherArguments(pageUrl));
}

// Qt keeps the thread that starts a child suspended from the fork until the
// child's exec, up to 12 ms on a loaded machine; that thread is not the
// window's. A child started with a parent-death signal gets it when the
// thread that started it ends, so this one lives as long as the application.
QThread *downloader::starterThread()
{
    static QThread *starter = nullptr;
    if (!starter) {
        starter = new QThread;
        starter->setObjectName(QStringLiteral("child starter"));
        starter->start();
        qAddPostRoutine([] {
            starter->quit();
            starter->wait();
            delete starter;
            starter = nullptr;
        });
    }
    return starter;
}

// The process object goes to the starter thread, is started there and comes
// back; the job is not polled in between. Starts asked for together wait
// their turn there, not in the window.
void downloader::startOffThread(const QString &program, const QStringList &arguments)
{
    awaitingChild = true;
    auto started = std::make_shared<std::promise<void>>();
    startInFlight = started->get_future();
    QThread *const home = thread();
    process.moveToThread(starterThread());
    QMetaObject::invokeMethod(
        &process,
        [this, home, program, arguments, started] {
            external::startChild(process, program, arguments);
            process.moveToThread(home);
            QMetaObject::invokeMethod(this, &downloader::childStarted, Qt::QueuedConnection);
            started->set_value();
        },
        Qt::QueuedConnection);
}

// A child that ended, or failed to start, while it was away is acted on now.
void downloader::childStarted()
{
    startInFlight.get();
    awaitingChild = false;
    if (process.state() == QProcess::NotRunning)
        pollProcess();
}

// A child's end, or the end of the placing, is acted on without waiting for a
// tick, but from the event loop: never inside the process object's own signal.
void downloader::wake()
{
    QMetaObject::invokeMethod(this, &downloader::pollProcess, Qt::QueuedConnection);
}

void downloader::pollProcess()
{
    if (ended || awaitingChild)
        return;
    if (process.state() != QProcess::NotRunning) {
        readOutput();
        scanOutput();
        reportProgress();
        return;
    }
    if (finish && finish->placing()) {
        reportProgress();
        return;
    }
    readOutput();
    if (finish && finish->placingStarted())
        endPlacing();
    else
        childEnded();
}

void downloader::readOutput()
{
    // A video finished from a file fetched whole by an earlier run had no child.
    if (process.isOpen())
        text.output += external::childText(process.readAllStandardError());
}

// Everything a child writes is taken from the pipe at once, so that its flood
// never piles up in the process object between two polls. Normal output waits
// for the poll; a flood is scanned now, which keeps the job's text bounded.
void downloader::readFlood()
{
    readOutput();
    const qsizetype limit =
        phase == 1 ? outputparser::FetchingLineLimit : outputparser::FinishingOutputLimit;
    if (text.output.size() > limit && process.state() != QProcess::NotRunning)
        metCarriageReturn |= phase == 1 ? outputparser::scanFetching(text)
                                        : outputparser::scanFinishing(text);
}

void downloader::scanOutput()
{
    metCarriageReturn |=
        phase == 1 ? outputparser::scanFetching(text) : outputparser::scanFinishing(text);
    if (metCarriageReturn)
        timer->start(phase == 1 ? intervals.fetching : intervals.finishing);
    metCarriageReturn = false;
}

void downloader::reportProgress()
{
    // Once fetched, the fetch counts whole; 100 and 100 is the done report,
    // which a running step must never look like.
    if (phase == 2)
        emit valueChanged(ID, 100, qMin(text.percent2, 99), 0, QString());
    else
        emit valueChanged(ID, text.percent1, text.percent2, 0, QString());
}

void downloader::childEnded()
{
    if (phase == 1)
        endFetching();
    else
        endConverting();
}

void downloader::endFetching()
{
    const QString error = fetch.end({!startFailed, process.exitStatus() == QProcess::NormalExit, process.exitCode()});
    if (error.isEmpty())
        beginFinishing();
    else
        fail(error);
}

void downloader::beginFinishing()
{
    finish = std::make_unique<FinishStep>(staging, text, folder, fixMp4 != 0);
    if (const QString failure = finish->begin(); !failure.isEmpty()) {
        fail(failure);
        return;
    }
    emit valueChanged(ID, 100, 0, 0, QString());
    phase = 2;
    metCarriageReturn = false;
    if (fixMp4)
        startChild();
    else
        startPlacing();
}

void downloader::endConverting()
{
    const QString failure =
        finish->endConverting({!startFailed, process.exitStatus() == QProcess::NormalExit, process.exitCode()});
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    startPlacing();
    reportProgress();
}

void downloader::startPlacing()
{
    finish->startPlacing(this, [this] { pollProcess(); }, placingHook);
}

void downloader::endPlacing()
{
    const FinishStep::Result placed = finish->endPlacing();
    if (!placed.error.isEmpty()) {
        fail(placed.error);
        return;
    }
    timer->stop();
    ended = true;
    // A warning rides on the done report; the video is saved all the same.
    emit valueChanged(ID, 100, 100, 0, placed.warning);
}

void downloader::fail(const QString &errmsg)
{
    // A folder removed under the job explains whatever failed after it, and
    // no file is kept there to be named.
    const QString gone = staging.goneFailure();
    staging.removeIfEmpty();
    timer->stop();
    ended = true;
    emit valueChanged(ID, 100, 100, 1, gone.isEmpty() ? errmsg : gone);
}

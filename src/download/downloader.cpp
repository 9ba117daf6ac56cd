#include "download/downloader.h"

#include "download/finishing.h"
#include "download/mp4check.h"
#include "download/placement.h"
#include "download/targetnames.h"
#include "external/externalprograms.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <memory>

#include <sys/statvfs.h>

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
    // file stays for a later try, a half-converted file goes.
    // A child being started is the starter thread's until it is handed back.
    if (startInFlight.valid())
        startInFlight.wait();
    process.disconnect(this);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    if (placement.valid())
        target = placement.get().target;
    if (phase == 2 && fixMp4 && !text.baseName.isEmpty())
        staging.removeFile(finishing::convertedName(text.baseName));
    if (!target.isEmpty())
        TargetNames::release(target);
}

void downloader::startChild()
{
    if (phase == 2) {
        // An earlier run's output may be linked to a saved video; ffmpeg -y
        // would write through it, so the converter gets a name of its own.
        const QString output = finishing::convertedName(text.baseName);
        staging.removeFile(output);
        startOffThread(external::converterProgram(),
                       external::converterArguments(
                           finishing::converterFile(finishing::fetchedName(text.baseName)),
                           finishing::converterFile(output)));
        return;
    }
    if (!stagingProblem.isEmpty()) {
        fail(stagingProblem);
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
    if (placing()) {
        reportProgress();
        return;
    }
    readOutput();
    if (placement.valid())
        endPlacing();
    else
        childEnded();
}

void downloader::readOutput()
{
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

bool downloader::placing() const
{
    return placement.valid()
           && placement.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
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

// Only a fetcher that exited by itself with status 0 and said no error has
// fetched the whole video.
void downloader::endFetching()
{
    outputparser::readSaveLine(text);
    if (startFailed) {
        fail(finishing::startFailure(external::fetcherProgram()));
        return;
    }
    QString error = outputparser::endTest(text);
    if (error.isNull())
        error = finishing::fetcherEndFailure(process.exitStatus() == QProcess::NormalExit,
                                             process.exitCode());
    if (error.isEmpty()) {
        beginFinishing();
        return;
    }
    if (const qint64 room = roomLeft(); room >= 0 && room < finishing::FullDiskRoom)
        error = finishing::fullDiskFailure(error, staging.outputPath(), room);
    fail(keepPartial() ? finishing::childFailure(error, fetched()) : error);
}

void downloader::beginFinishing()
{
    if (const QString failure = finishing::nameFailure(text.baseName); !failure.isEmpty()) {
        fail(failure);
        return;
    }
    emit valueChanged(ID, 100, 0, 0, QString());
    // The converter would fill the disk and leave half a file: better to say
    // so now, while nothing has been written.
    if (fixMp4) {
        if (const QString failure = finishing::roomFailure(
                staging.outputPath(), QFileInfo(fetched()).size(), roomLeft(), fetched());
            !failure.isEmpty()) {
            fail(failure);
            return;
        }
    }
    phase = 2;
    metCarriageReturn = false;
    target = TargetNames::claim(folder, finishing::diskName(text.baseName));
    if (fixMp4)
        startChild();
    else
        startPlacing(fetched());
}

void downloader::endConverting()
{
    if (startFailed) {
        fail(finishing::converterStartFailure(fetched()));
        return;
    }
    QString failure = outputparser::endTest(text);
    if (!failure.isNull()) {
        failure = finishing::childFailure(failure, fetched());
    } else {
        const QFileInfo file(converted());
        finishing::ConversionResult result{process.exitStatus() == QProcess::NormalExit,
                                           process.exitCode(), file.exists() ? file.size() : -1,
                                           text.output, QString()};
        if (result.targetSize > 0)
            result.cut = mp4check::fileProblem(converted());
        failure = finishing::conversionFailure(fetched(), converted(), result);
    }
    if (!failure.isEmpty()) {
        staging.removeFile(finishing::convertedName(text.baseName));
        fail(failure);
        return;
    }
    startPlacing(converted());
    reportProgress();
}

// Runs on a worker thread at the window's own priority: the window joins
// this thread when it takes the result, so a lower one would make it wait.
void downloader::startPlacing(const QString &source)
{
    const QStringList ownNames{finishing::fetchedName(text.baseName), finishing::convertedName(text.baseName)};
    placement = std::async(std::launch::async, [this, source, ownNames, fetched = fetched(), target = target,
                                                stem = finishing::diskName(text.baseName),
                                                converted = bool(fixMp4), hook = placingHook] {
        Placed placed{converted ? QString() : finishing::fetchedFailure(source), target};
        if (placed.error.isEmpty()) {
            if (hook)
                hook(target, source);
            Placement mover(staging.descriptor(), staging.outputDescriptor(), stem);
            placed.error = mover.place(QFileInfo(source).fileName(), &placed.target);
            if (hook && placed.error.isEmpty() && placed.target != target)
                hook(placed.target, placed.target);
            // A copied video is the fetched file itself, under its new name.
            if (!placed.error.isEmpty())
                placed.error += finishing::keptFile(mover.placed() && !converted ? placed.target : fetched);
        }
        // Removing files can wait for the disk as long as flushing can.
        if (placed.error.isEmpty())
            staging.remove(ownNames);
        // The result is ready only once this returns, which the poll waits for.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (placement.valid())
                    placement.wait();
                pollProcess();
            },
            Qt::QueuedConnection);
        return placed;
    });
}

void downloader::endPlacing()
{
    const Placed placed = placement.get();
    // The placing may have claimed another name, when someone took ours meanwhile.
    TargetNames::release(placed.target);
    target.clear();
    if (!placed.error.isEmpty()) {
        if (fixMp4)
            staging.removeFile(finishing::convertedName(text.baseName));
        fail(placed.error);
        return;
    }
    timer->stop();
    ended = true;
    emit valueChanged(ID, 100, 100, 0, QString());
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

QString downloader::fetched() const
{
    return staging.filePath(finishing::fetchedName(text.baseName));
}

QString downloader::converted() const
{
    return staging.filePath(finishing::convertedName(text.baseName));
}

// Free bytes for this user on the staging folder's disk, which is the output
// folder's; -1 when unknown.
qint64 downloader::roomLeft() const
{
    struct statvfs disk;
    if (staging.descriptor() < 0 || ::fstatvfs(staging.descriptor(), &disk) != 0)
        return -1;
    return qint64(disk.f_bavail) * qint64(disk.f_frsize);
}

// A fetcher that failed may have fetched part of the video; it stays in the
// staging folder, where the next download of the address resumes it. An empty
// file holds nothing to resume and goes, so that the folder can go with it.
bool downloader::keepPartial()
{
    if (text.baseName.isEmpty() || !finishing::nameFailure(text.baseName).isEmpty())
        return false;
    if (QFileInfo(fetched()).size() > 0)
        return true;
    staging.removeFile(finishing::fetchedName(text.baseName));
    return false;
}

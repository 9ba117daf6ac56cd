#include "download/downloader.h"

#include "download/finishing.h"
#include "external/externalprograms.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <mutex>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int FetchingFirstInterval = 500;
constexpr int FetchingInterval = 1000;
constexpr int FinishingInterval = 200;

// Runs on a worker thread. One copy at a time and at a low priority: copies
// share the disk anyway, and the window's thread must win every contest for
// a core.
QString moveInBackground(const QString &fetched, const QString &target)
{
    static std::mutex oneAtATime;
    const std::lock_guard<std::mutex> lock(oneAtATime);
    setpriority(PRIO_PROCESS, gettid(), 10);
    return finishing::moveDownload(fetched, target);
}

} // namespace

downloader::downloader(int ID, int fixMp4, QString pageUrl, QString folder)
    : folder(folder)
    , ID(ID)
    , fixMp4(fixMp4)
{
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            startFailed = true;
    });
    // Standard output is never read; discarding it keeps a talkative child from
    // blocking on a full pipe.
    process.setStandardOutputFile(QProcess::nullDevice());
    connect(&process, &QProcess::readyReadStandardError, this, &downloader::readFlood);
    process.start(external::fetcherProgram(), external::fetcherArguments(pageUrl));

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &downloader::pollProcess);
    timer->start(FetchingFirstInterval);
}

downloader::~downloader()
{
    // A job deleted while its child runs ends the child; its partial file stays.
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

void downloader::pollProcess()
{
    if (process.state() != QProcess::NotRunning) {
        readOutput();
        scanOutput();
        reportProgress();
        return;
    }
    if (copying()) {
        reportProgress();
        return;
    }
    readOutput();
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
        timer->start(phase == 1 ? FetchingInterval : FinishingInterval);
    metCarriageReturn = false;
}

bool downloader::copying() const
{
    return move.valid() && move.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void downloader::reportProgress()
{
    // 100 and 100 is the done report; a running child must never look done.
    const int percent2 = text.percent1 == 100 && text.percent2 == 100 ? 99 : text.percent2;
    emit valueChanged(ID, text.percent1, percent2, 0, QString());
}

void downloader::childEnded()
{
    if (startFailed) {
        fail(phase == 1 ? finishing::startFailure(external::fetcherProgram())
                        : finishing::converterStartFailure(finishing::fetchedFile(text.baseName)));
        return;
    }
    const QString error = outputparser::endTest(text.output);
    if (!error.isNull())
        fail(error);
    else if (phase == 1)
        beginFinishing();
    else
        endFinishing();
}

void downloader::beginFinishing()
{
    outputparser::readSaveLine(text);
    if (const QString failure = finishing::nameFailure(text.baseName); !failure.isEmpty()) {
        fail(failure);
        return;
    }
    emit valueChanged(ID, 100, 0, 0, QString());
    phase = 2;
    metCarriageReturn = false;
    const QString fetched = finishing::fetchedFile(text.baseName);
    const QString target = finishing::targetFile(folder, text.baseName);
    if (fixMp4) {
        process.start(external::converterProgram(),
                      external::converterArguments(finishing::converterFile(fetched),
                                                   finishing::converterFile(target)));
    } else {
        move = std::async(std::launch::async, moveInBackground, fetched, target);
    }
}

void downloader::endFinishing()
{
    const QString fetched = finishing::fetchedFile(text.baseName);
    if (fixMp4) {
        const QFileInfo target(finishing::targetFile(folder, text.baseName));
        const finishing::ConversionResult result{process.exitStatus() == QProcess::NormalExit,
                                                 process.exitCode(),
                                                 target.exists() ? target.size() : -1};
        const QString failure = finishing::conversionFailure(fetched, target.filePath(), result);
        if (!failure.isEmpty()) {
            fail(failure);
            return;
        }
        QFile::remove(fetched);
    } else if (const QString failure = move.get(); !failure.isEmpty()) {
        fail(failure);
        return;
    }
    timer->stop();
    emit valueChanged(ID, 100, 100, 0, QString());
}

void downloader::fail(const QString &errmsg)
{
    timer->stop();
    emit valueChanged(ID, 100, 100, 1, errmsg);
}

#pragma once

#include "download/downloader.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// One download job in the folder "work" of a fresh temporary folder, which is
// the working directory while the run lasts and $WORK for the fakes; the
// folder "out" beside it is there to save into. Records
// the kinds of the reports as the batch controller tells them apart: P
// progress, F fetch done, D done, E error; a run of equal kinds is written once.
// The first report makes the file "$WORK/go", the first of the conversion
// "$WORK/go2", so that a fake can wait until its progress was seen.
class JobRun
{
public:
    JobRun();
    ~JobRun();
    Q_DISABLE_COPY(JobRun)

    void start(int fixMp4, const QString &folder, const QString &pageUrl = QStringLiteral("http://portal/video/1"));
    // Waits for the end; false when none came.
    bool wait(int timeout = 60000);
    // The window closing: the job is deleted.
    void stop() { job.reset(); }

    // A path inside the temporary folder (not inside "work").
    QString path(const QString &name) const { return root.filePath(name); }
    // Every file below the temporary folder, relative to it, sorted.
    QStringList files() const;

    QString kinds;
    QString errmsg;
    bool ended = false;

private:
    void record(int percent1, int percent2, int err, const QString &msg);

    QTemporaryDir root;
    std::unique_ptr<downloader> job;
};

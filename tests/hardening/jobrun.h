#pragma once

#include "download/downloader.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// One download job in the folder "work" of a fresh temporary folder, which is
// the working directory while the run lasts. Records the kinds of the reports
// as the batch controller tells them apart: P progress, F fetch done, D done,
// E error; a run of equal kinds is written once.
class JobRun
{
public:
    JobRun();
    ~JobRun();
    JobRun(const JobRun &) = delete;
    JobRun &operator=(const JobRun &) = delete;

    void start(int fixMp4, const QString &folder);

    // A path inside the temporary folder (not inside "work").
    QString path(const QString &name) const { return root.filePath(name); }
    // Every file below the temporary folder, relative to it, sorted.
    QStringList files() const;

    QString kinds;
    QString errmsg;
    bool ended = false;

private:
    QTemporaryDir root;
    std::unique_ptr<downloader> job;
};

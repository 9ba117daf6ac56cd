#pragma once

#include "download/fetchrecord.h"
#include "download/outputparser.h"

#include <QString>

class StagingFolder;

// What the fetcher's run means for the job, apart from the process that runs
// it: whether a file kept from an earlier run is already whole, and whether
// the fetcher's end left the whole video, a part of it to resume, or nothing.
class FetchStep
{
public:
    // Below this last shown percentage a fetcher that ended well stopped early.
    static constexpr double WholePercent = 99.5;

    struct End
    {
        bool started = false;
        bool exitedNormally = false;
        int exitCode = -1;
    };

    FetchStep(StagingFolder &staging, outputparser::State &text);

    // True when an earlier run fetched the video whole and the file is still
    // as it was: its name is the job's, and no fetcher is needed. Otherwise
    // the note of it goes, since a fetcher is about to change the file.
    bool foundWhole();
    // The failure again, naming the kept file, when an earlier run's file grew
    // past what its disk holds and is still as it was; else an empty string.
    QString keptTooLarge();

    // After the fetcher has ended: an empty string once the whole video is
    // fetched, which is then noted; else the failure, naming any kept file.
    QString end(const End &ended);

    QString fetched() const;

private:
    QString failure(const End &ended) const;
    QString diskFailure(const QString &error, bool *tooLarge) const;
    QString namingEarlierPart(const QString &error) const;
    QString noted(FetchRecord::End end) const;
    void note(FetchRecord::End end) const;
    bool keepPartial();

    StagingFolder &staging;
    outputparser::State &text;
};

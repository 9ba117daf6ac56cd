#pragma once

#include <QString>

// File names of the finishing step and the rule that decides whether the
// fetched file may go.
namespace finishing {

// The fetcher names its file in bytes, which the job holds one byte per
// character; this is the name the file system knows it by.
QString diskName(const QString &childText);

// Why the fetcher's name cannot be used, or an empty string. A usable name
// is one file name in the staging folder, so no fetcher can make the job
// write or remove a file anywhere else.
QString nameFailure(const QString &baseName);

// The fetched file's name, baseName + "flv", and the name the converter
// writes first, baseName + "mp4"; both live in the job's staging folder.
QString fetchedName(const QString &baseName);
QString convertedName(const QString &baseName);

// A file name as the converter must be given it: without the file: prefix it
// takes "Uutiset: x.flv" for an address of an unknown protocol and "-x.mp4"
// for an option; other names pass unchanged.
QString converterFile(const QString &path);

struct ConversionResult
{
    bool exitedNormally = false;
    int exitCode = -1;
    qint64 targetSize = -1; // -1: the converted file does not exist
    QString output;         // the converter's standard error
    QString cut;            // why the converted file is not a whole MP4, or empty
};

// Why the fetched file must be kept after a conversion, or an empty string
// when the converted file holds the video. The converter's exit status alone
// proves nothing: on a full disk it reports its failed writes and exits with 0.
QString conversionFailure(const QString &fetched, const QString &converted,
                          const ConversionResult &result);

// Why the conversion may not start in `folder`, which has `available` bytes
// free (-1: unknown, which the check after the conversion covers), or an
// empty string. Nothing is converted and nothing removed, so freeing room and
// saving the same address again finishes the job.
QString roomFailure(const QString &folder, qint64 fetchedSize, qint64 available,
                    const QString &fetched);

// Below this much free room a child's failure is said to be the full disk's.
constexpr qint64 FullDiskRoom = 256 * 1024;

// A failed fetcher's error text with the full disk of `folder` named first.
QString fullDiskFailure(QString errorText, const QString &folder, qint64 available);

// Why the fetcher's run failed although no line of its output said so: it
// was killed or exited with a status other than 0. Empty when it ended well.
QString fetcherEndFailure(bool exitedNormally, int exitCode);

// A fetcher that ended well although its progress stopped at `percent`.
QString stoppedEarlyFailure(double percent);

// Whether a child's output says that a file grew past what its file system holds.
bool saysTooLarge(const QString &output);
// A file that grew past the largest one the disk of `folder` holds; `fat32`
// when the disk is known to be one.
QString tooLargeFailure(const QString &folder, bool fat32);

// Why a fetched file cannot be placed as it is, or an empty string.
QString fetchedFailure(const QString &fetched);
// A fetcher that ended well with an empty file.
QString emptyFetchFailure();

// The end of an error text that names the file kept for a later try.
QString keptFile(const QString &fetched);
// A child's error text, from its marker on, with the kept file named after it.
QString childFailure(QString errorText, const QString &fetched);

// The texts of the job's own error reports.
QString startFailure(const QString &program);
QString converterStartFailure(const QString &fetched);
QString unnamedDownload();

} // namespace finishing

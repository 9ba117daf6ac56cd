#pragma once

#include <QString>

// File names of the finishing step and the rule that decides whether the
// fetched file may go.
namespace finishing {

// The fetcher names its file in bytes, which the job holds one byte per
// character; this is the name the file system knows it by.
QString diskName(const QString &childText);

// Why the fetcher's name cannot be used, or an empty string. A usable name
// is one file name in the working directory, so no fetcher can make the job
// write or remove a file anywhere else.
QString nameFailure(const QString &baseName);

// The fetched file in the working directory: baseName + "flv".
QString fetchedFile(const QString &baseName);

// The target: folder, "/" unless the folder is empty, baseName + "mp4".
QString targetFile(const QString &folder, const QString &baseName);

// A file name as the converter must be given it: without the file: prefix it
// takes "Uutiset: x.flv" for an address of an unknown protocol and "-x.mp4"
// for an option; other names pass unchanged.
QString converterFile(const QString &path);

struct ConversionResult
{
    bool exitedNormally = false;
    int exitCode = -1;
    qint64 targetSize = -1; // -1: the target does not exist
};

// Why the fetched file must be kept after a conversion, or an empty string
// when the target holds the video and the fetched file may be removed.
QString conversionFailure(const QString &fetched, const QString &target,
                          const ConversionResult &result);

// Moves the fetched file to the target, replacing an older target as the
// converter does. Returns why the fetched file was kept, or an empty string.
QString moveDownload(const QString &fetched, const QString &target);

// The texts of the job's own error reports.
QString startFailure(const QString &program);
QString converterStartFailure(const QString &fetched);
QString unnamedDownload();

} // namespace finishing

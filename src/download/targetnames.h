#pragma once

#include <QString>

#include <mutex>
#include <set>

// Names of finished videos that this program's jobs have claimed. A job
// claims its name when its finishing step starts and keeps it until the video
// is in place, so two episodes of one title never end in one file (nor two
// titles that differ only in case, which some file systems take for one), and no
// existing file is ever replaced: when NAME.mp4 is taken, on disk or by a
// claim, the video becomes NAME (2).mp4, then (3), and so on.
class TargetNames
{
public:
    // The first free name for a video whose fetched file was `stem` + "flv"
    // (`stem` ends with the dot), in `folder` (empty: the working directory).
    static QString claim(const QString &folder, const QString &stem);
    static void release(const QString &path);

    // Whether anything, even a dangling link, stands under that name.
    static bool onDisk(const QString &path);

private:
    // NAME.mp4 for the first, NAME (n).mp4 for the n-th; NAME shortened
    // where the whole would be too long a name.
    static QString numbered(const QString &stem, int n);

    static std::mutex lock;
    static std::set<QString> claimed;
};

#pragma once

#include <QString>

// The note a job leaves in its staging folder once the fetcher has ended
// whole: the file's name, size and change time and the fetcher's last shown
// progress. A later download of the address that finds the file as noted goes
// straight on to the conversion or the copy, without the portal.
class FetchRecord
{
public:
    static constexpr const char *Name = ".fetched";

    // Notes the file `fileName` of the folder `folderFd` as fetched whole;
    // `progress` is negative when the fetcher showed none.
    static void write(int folderFd, const QString &fileName, double progress);

    // The name of the file noted whole, when it is still there as it was
    // noted; an empty string otherwise.
    static QString wholeFile(int folderFd);
};

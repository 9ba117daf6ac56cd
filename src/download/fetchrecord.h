#pragma once

#include <QString>

// The note a job leaves in its staging folder once the fetcher has ended:
// how it ended, the file's name, size and change time and the fetcher's last
// shown progress. A later download of the address that finds the file as
// noted goes on from the note without the portal: to the conversion or the
// copy after a whole fetch, to the same failure after a file grew past what
// its disk holds.
class FetchRecord
{
public:
    static constexpr const char *Name = ".fetched";

    enum class End { Whole, TooLarge };

    // Notes how the fetch of `fileName` in the folder `folderFd` ended;
    // `progress` is negative when the fetcher showed none.
    static void write(int folderFd, const QString &fileName, End end, double progress);

    // The name of the file noted with that end, when it is still there as it
    // was noted; an empty string otherwise.
    static QString file(int folderFd, End end);
};

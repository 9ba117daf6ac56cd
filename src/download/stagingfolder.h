#pragma once

#include <QString>

// Where one download's fetched file waits until the video is in place: a
// folder of its own inside the output folder (so that the last step is a
// rename), named after the page address, so that a later download of the same
// address finds its partial file and resumes it. A lock on the folder keeps a
// second job, also one of another running copy of the program, out of it.
class StagingFolder
{
public:
    static constexpr const char *RootName = ".lumora-partial";

    StagingFolder() = default;
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;

    // Makes and locks the folder; the output folder empty means the working
    // directory. Returns why it cannot be used, or an empty string.
    QString open(const QString &outputFolder, const QString &pageUrl);
    QString path() const { return folder; }
    // Empty once the folder is gone or was never made: no name may then
    // point into the root folder.
    QString filePath(const QString &name) const
    {
        return folder.isEmpty() ? QString() : folder + u'/' + name;
    }
    // Once the video is in place: the folder goes, and the root with it when empty.
    void remove();
    // After a failure: the folder goes only when it holds nothing to resume.
    void removeIfEmpty();

    // The folder's name for an address: the same address, the same folder.
    static QString key(const QString &pageUrl);

private:
    void unlock();

    QString folder;
    int lockFd = -1;
};

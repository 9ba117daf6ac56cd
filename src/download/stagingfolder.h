#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class FolderOwner;

// Where one download's fetched file waits until the video is in place: a
// folder of its own inside the output folder (so that the last step is a
// rename), named after the page address, so that a later download of the same
// address finds its partial file and resumes it. A lock on the folder keeps a
// second job, also one of another running copy of the program, out of it.
//
// Anyone who may write into the output folder may plant names there, so the
// folders are reached only through descriptors of directories that were
// checked to be real ones of this user (FolderOwner), never through a
// symbolic link.
class StagingFolder
{
public:
    static constexpr const char *RootName = ".lumora-partial";

    StagingFolder();
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;

    // Makes or finds and locks the folder; the output folder empty means the
    // working directory. Returns why it cannot be used, or an empty string.
    QString open(const QString &outputFolder, const QString &pageUrl);
    // Empty once the folder is gone or was never made: no name may then
    // point into the root folder.
    QString filePath(const QString &name) const
    {
        return folder.isEmpty() ? QString() : folder + u'/' + name;
    }
    // The output folder as an absolute path, for messages.
    QString outputPath() const { return output; }
    // The checked job folder and output folder; -1 when not open.
    int descriptor() const { return folderFd; }
    int outputDescriptor() const { return outputFd; }

    // Why the job's folder no longer stands where it was made (removed or
    // moved away during the download), or an empty string.
    QString goneFailure() const;

    // The full path of a fetched file with something in it that the job's
    // folder holds, whatever its name, or an empty string.
    QString keptPart() const;

    // Removes one of the job's own files from its folder.
    void removeFile(const QString &name) const;
    // Once the video is in place: the job's own names go, then the folder
    // and the root when they are empty. Nothing else is ever removed.
    void remove(const QStringList &names);
    // After a failure: the folder goes only when it holds nothing to resume.
    void removeIfEmpty();

    // The folder's name for an address: the same address, the same folder.
    static QString key(const QString &pageUrl);

private:
    enum class Taken { Yes, Missing, NotOurs, Busy, Failed };

    QString openIn(const QString &pageUrl, bool *again);
    Taken takeFolder(const QString &name, QString *failure);
    static QString occurrenceName(const QString &pageUrl, int occurrence);
    void close();

    QString output;
    QString folder;
    int outputFd = -1;
    int rootFd = -1;
    int folderFd = -1;
    int lockFd = -1;
    QString folderName;
    std::unique_ptr<FolderOwner> owner;
};

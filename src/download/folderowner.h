#pragma once

#include <QByteArray>

#include <optional>

#include <sys/types.h>

// Whose folders a job may use in the output folder. On most disks only this
// user's. A disk whose file system shows every file with one fixed owner (FAT,
// exFAT, NTFS or CIFS mounted for all users) shows that owner on this user's
// own new files too; there a folder of that owner is taken as ours. A folder
// of another user on a disk that keeps owners stays refused.
class FolderOwner
{
public:
    explicit FolderOwner(int outputFd) : outputFd(outputFd) {}

    // The directory `name` of `parent`, opened without following a link, when
    // it may be used; -1 otherwise, with errno EPERM for a stranger's.
    int open(int parent, const QByteArray &name);

private:
    bool ownerOfNewFolders(uid_t owner);

    int outputFd;
    std::optional<uid_t> fixedOwner; // once a new folder of ours was looked at
};

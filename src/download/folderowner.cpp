#include "download/folderowner.h"

#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int FolderOwner::open(int parent, const QByteArray &name)
{
    const int fd = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || (info.st_uid != ::geteuid() && !ownerOfNewFolders(info.st_uid))) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// Whether a folder this user makes in the output folder shows `owner`: a
// probe of our own is made there and goes again at once.
bool FolderOwner::ownerOfNewFolders(uid_t owner)
{
    if (!fixedOwner) {
        for (int attempt = 0; attempt < 5 && !fixedOwner; ++attempt) {
            const QByteArray probe =
                ".lumora-owner-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
            if (::mkdirat(outputFd, probe.constData(), 0700) != 0) {
                if (errno != EEXIST)
                    return false;
                continue;
            }
            struct stat info;
            if (::fstatat(outputFd, probe.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
                fixedOwner = info.st_uid;
            ::unlinkat(outputFd, probe.constData(), AT_REMOVEDIR);
        }
    }
    return fixedOwner && *fixedOwner == owner && owner != ::geteuid();
}

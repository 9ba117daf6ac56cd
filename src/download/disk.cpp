#include "download/disk.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

namespace disk {

qint64 roomLeft(int folderFd)
{
    struct statvfs info;
    if (folderFd < 0 || ::fstatvfs(folderFd, &info) != 0 || info.f_blocks == 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

qint64 fileSizeLimit(int folderFd)
{
    struct statfs info;
    if (folderFd < 0 || ::fstatfs(folderFd, &info) != 0 || info.f_type != MSDOS_SUPER_MAGIC)
        return -1;
    return (qint64(1) << 32) - 1;
}

} // namespace disk

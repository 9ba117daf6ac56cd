#include "smalldisk.h"

#include "mountaccess.h"

#include <QDir>

SmallDisk::SmallDisk(const QString &path, qint64 bytes) : path(path)
{
    QDir().mkpath(path);
    isMounted = mountaccess::problem().isEmpty() && mountaccess::mountTmpfs(path, QStringLiteral("size=%1").arg(bytes));
}

SmallDisk::~SmallDisk()
{
    if (isMounted)
        mountaccess::unmount(path);
}

bool SmallDisk::resize(qint64 bytes)
{
    return isMounted && mountaccess::remountTmpfs(path, QStringLiteral("size=%1").arg(bytes));
}

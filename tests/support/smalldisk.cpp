#include "smalldisk.h"

#include "mountaccess.h"

#include <QDir>

namespace {

QString sizeOption(qint64 bytes)
{
    return QStringLiteral("size=%1").arg(bytes);
}

} // namespace

SmallDisk::SmallDisk(const QString &path, qint64 bytes) : path(path)
{
    QDir().mkpath(path);
    isMounted = mountaccess::problem().isEmpty() && mountaccess::mountTmpfs(path, sizeOption(bytes));
}

SmallDisk::~SmallDisk()
{
    if (isMounted)
        mountaccess::unmount(path);
}

bool SmallDisk::resize(qint64 bytes)
{
    return isMounted && mountaccess::remountTmpfs(path, sizeOption(bytes));
}

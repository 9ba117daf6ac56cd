#include "readonlyfolder.h"

#include "mountaccess.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

ReadOnlyFolder::ReadOnlyFolder(const QString &path) : path(path)
{
    QDir().mkpath(path);
    if (::geteuid() == 0)
        made = mounted = mountaccess::mountTmpfs(path, QStringLiteral("ro,size=1m"));
    else
        made = QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (mounted)
        mountaccess::unmount(path);
    else
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

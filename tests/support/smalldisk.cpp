#include "smalldisk.h"

#include <QDir>
#include <QProcess>

#include <unistd.h>

namespace {

bool run(const QStringList &command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

QString sizeOption(qint64 bytes)
{
    return QStringLiteral("size=%1").arg(bytes);
}

} // namespace

SmallDisk::SmallDisk(const QString &path, qint64 bytes) : path(path)
{
    QDir().mkpath(path);
    isMounted = ::geteuid() == 0
                && run({QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"),
                        QStringLiteral("-o"), sizeOption(bytes), QStringLiteral("tmpfs"), path});
}

SmallDisk::~SmallDisk()
{
    if (isMounted)
        run({QStringLiteral("umount"), QStringLiteral("--lazy"), path});
}

bool SmallDisk::resize(qint64 bytes)
{
    return isMounted
           && run({QStringLiteral("mount"), QStringLiteral("-o"),
                   QStringLiteral("remount,") + sizeOption(bytes), path});
}

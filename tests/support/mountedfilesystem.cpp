#include "mountedfilesystem.h"

#include "mountaccess.h"
#include "programrun.h"

#include <QDir>

#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    const Finished done = runProgram(program, arguments);
    if (output)
        *output = done.out.trimmed();
    return done.exitCode == 0;
}

} // namespace

MountedFileSystem::MountedFileSystem(Kind kind, const QString &size)
{
    const QString point = folder.filePath(QStringLiteral("mnt"));
    QDir().mkpath(point);
    if (kind == Kind::Plain) {
        path = point;
        return;
    }
    // exfat-fuse always asks for a block device's FUSE (fuseblk), which the
    // kernel mounts in no user namespace.
    if (::geteuid() != 0) {
        problem = QStringLiteral("exfat-fuse mounts only as fuseblk, which the kernel refuses "
                                 "in a user namespace: needs root");
        return;
    }
    if (kind == Kind::Fat32 ? mountFat32(size, point) : mountExFat(size, point))
        path = unmountAt = point;
    else if (kind == Kind::Fat32)
        problem = QStringLiteral("cannot mount FAT32 here (dosfstools, fusefat)");
    else
        problem = QStringLiteral("cannot mount exFAT here (exfatprogs, exfat-fuse, a loop device)");
}

MountedFileSystem::MountedFileSystem(const QString &failing)
{
    const QString point = folder.filePath(QStringLiteral("mnt"));
    const QString backing = folder.filePath(QStringLiteral("backing"));
    QDir().mkpath(point);
    QDir().mkpath(backing);
    const QString program = QStringLiteral(LUMORA_FAULTYFS);
    problem = program.isEmpty() ? QStringLiteral("built without libfuse3") : mountaccess::fuseProblem();
    if (!problem.isEmpty())
        return;
    if (mountaccess::runMounter(program, {backing, point, failing}, point))
        path = unmountAt = point;
    else
        problem = QStringLiteral("cannot mount a FUSE file system here");
}

bool MountedFileSystem::mountExFat(const QString &size, const QString &point)
{
    const QString image = folder.filePath(QStringLiteral("exfat.img"));
    return run(QStringLiteral("truncate"), {QStringLiteral("-s"), size, image})
           && run(QStringLiteral("mkfs.exfat"), {image})
           && run(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), image}, &loopDevice)
           && run(QStringLiteral("mount.exfat-fuse"), {QString::fromLocal8Bit(loopDevice), point});
}

// Through FUSE, which needs no loop device; open to every user, as a stick
// mounted from fstab for all is.
bool MountedFileSystem::mountFat32(const QString &size, const QString &point)
{
    const QString image = folder.filePath(QStringLiteral("fat32.img"));
    return run(QStringLiteral("truncate"), {QStringLiteral("-s"), size, image})
           && run(QStringLiteral("mkfs.vfat"), {QStringLiteral("-F"), QStringLiteral("32"), image})
           && run(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+,allow_other"), image, point});
}

MountedFileSystem::~MountedFileSystem()
{
    if (!unmountAt.isEmpty())
        mountaccess::unmount(unmountAt);
    if (!loopDevice.isEmpty())
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), QString::fromLocal8Bit(loopDevice)});
}

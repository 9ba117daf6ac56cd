#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A file system that users save to, mounted on a fresh folder for the
// object's lifetime: an exFAT stick through FUSE (no renameat2, no links,
// names that differ only in case are one file), or a folder through a FUSE
// file system that fails one operation. A small tmpfs is SmallDisk's.
// Mounting goes as mountaccess allows; `problem` says why it could not.
class MountedFileSystem
{
public:
    enum class Kind {
        Plain, // a folder of the temporary folder's own file system, nothing mounted
        ExFat,
        // FAT32 through FUSE, open to all users as a stick mounted from fstab
        // without uid= is: every file shows root as its owner
        Fat32
    };

    // `size` as truncate takes it: "16M".
    MountedFileSystem(Kind kind, const QString &size);
    // A folder that fails one operation as a failing disk does: "fsync",
    // "flush", "fsyncdir" or "flock"; or "statfs" (no size) or "fat32" (see faultyfs.cpp).
    explicit MountedFileSystem(const QString &failing);
    ~MountedFileSystem();
    Q_DISABLE_COPY(MountedFileSystem)

    QString path;
    QString problem;

private:
    bool mountExFat(const QString &size, const QString &point);
    bool mountFat32(const QString &size, const QString &point);

    QTemporaryDir folder;
    QString unmountAt;
    QByteArray loopDevice;
};

#pragma once

#include <QtGlobal>

// What the disk under a folder says of itself.
namespace disk {

// Free bytes for this user on the disk of the folder `folderFd`; -1 when
// unknown, also where the file system reports no size at all (some FUSE and
// network mounts give 0 blocks), which says nothing about the room left.
qint64 roomLeft(int folderFd);

// The largest file the folder's file system can hold when it is small enough
// for a video to reach it (FAT32: 4 GiB less one byte); -1 otherwise.
qint64 fileSizeLimit(int folderFd);

} // namespace disk

#pragma once

#include <QString>

// Mounting for the tests, in one place. Root mounts as it is. A test binary
// run by another user enters a user and mount namespace of its own before
// main (only a process of one thread may), keeping its user id: there it may
// mount tmpfs, and FUSE file systems where /dev/fuse is open to it. Its mounts
// are seen by the test and the programs it starts, by no one else, and go
// with the process.
namespace mountaccess {

// Why this process cannot mount a tmpfs, or an empty string.
QString problem();
// Why it cannot mount a FUSE file system, or an empty string.
QString fuseProblem();

// `options` as mount -o takes them, "size=16m" or "ro,size=1m".
bool mountTmpfs(const QString &path, const QString &options);
bool remountTmpfs(const QString &path, const QString &options);
bool unmount(const QString &path);

// Runs `program`, a FUSE daemon that returns once it has mounted on `point`:
// in the namespace it is given the right to mount that the test itself holds.
bool runMounter(const QString &program, const QStringList &arguments, const QString &point);

} // namespace mountaccess

#include "download/placement.h"

#include "download/targetnames.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// fsync() and close(), both checked: some file systems report a failed
// write only when the file is closed.
int flushAndClose(int fd)
{
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

int flushFile(int folder, const QByteArray &name)
{
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? errno : flushAndClose(fd);
}

// A file system that cannot flush a folder (EINVAL) has nothing more to flush.
int flushFolder(int folder)
{
    return ::fsync(folder) == 0 || errno == EINVAL ? 0 : errno;
}

// The errors by which a file system says that it has no such operation.
bool renameMissing(int error)
{
    return error == EINVAL || error == ENOSYS;
}

bool linkMissing(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

} // namespace

Placement::Placement(int sourceFolder, int targetFolder, const QString &stem)
    : sourceFolder(sourceFolder)
    , targetFolder(targetFolder)
    , stem(stem)
{
}

QString Placement::place(const QString &name, QString *target)
{
    const QByteArray from = QFile::encodeName(name);
    if (const int error = flushFile(sourceFolder, from))
        return QStringLiteral("ERROR: tiedostoa %1 ei voitu kirjoittaa levylle: %2").arg(name, systemError(error));
    for (;;) {
        const int error = moveOnce(from, QFile::encodeName(QFileInfo(*target).fileName()));
        if (error == 0)
            break;
        if (error != EEXIST)
            return QStringLiteral("ERROR: tiedostoa ei voitu tallentaa nimellä %1: %2")
                .arg(*target, systemError(error));
        const QString taken = *target;
        *target = TargetNames::claim(QFileInfo(taken).path(), stem);
        TargetNames::release(taken);
    }
    done = true;
    // The video is saved under its name now; the folder's flush only makes the
    // name last through a power cut, so its failure is said, not counted.
    if (const int error = flushFolder(targetFolder))
        flushWarning = QStringLiteral("VAROITUS: video tallennettiin nimellä %1, mutta kansion muutosta ei "
                                      "voitu varmistaa levylle (%2); tarkista levy")
                           .arg(*target, systemError(error));
    return QString();
}

// 0 once the file has its new name; EEXIST when the name is taken.
int Placement::moveOnce(const QByteArray &from, const QByteArray &to) const
{
    if (first == Method::Rename) {
        if (::renameat2(sourceFolder, from.constData(), targetFolder, to.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        if (!renameMissing(errno))
            return errno;
    }
    if (first != Method::Reserve) {
        if (::linkat(sourceFolder, from.constData(), targetFolder, to.constData(), 0) == 0) {
            // A name left by a failure here goes with the staging folder's
            // clean-up, or at the next start there.
            ::unlinkat(sourceFolder, from.constData(), 0);
            return 0;
        }
        if (!linkMissing(errno))
            return errno;
    }
    return renameOntoReservation(from, to);
}

// Reserves the name with an empty file made with O_EXCL, which no other job
// and no other copy of the program can then take, and renames the file onto
// that reservation: no window in which two files get one name, and no room
// needed, unlike a copy.
int Placement::renameOntoReservation(const QByteArray &from, const QByteArray &to) const
{
    const int fd =
        ::openat(targetFolder, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    // Only our own empty file is ever replaced or removed; one that took its
    // place is left alone. The reservation stays open meanwhile, so that its
    // inode is the same one when the name is looked up again.
    const auto stillOurs = [&] {
        struct stat reserved, named;
        return ::fstat(fd, &reserved) == 0
               && ::fstatat(targetFolder, to.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
               && named.st_ino == reserved.st_ino && named.st_dev == reserved.st_dev && named.st_size == 0;
    };
    int error = stillOurs() ? 0 : EEXIST;
    if (error == 0 && ::renameat(sourceFolder, from.constData(), targetFolder, to.constData()) != 0) {
        error = errno;
        if (stillOurs())
            ::unlinkat(targetFolder, to.constData(), 0);
    }
    // Nothing was written through the reservation; the rename has decided.
    ::close(fd);
    return error;
}

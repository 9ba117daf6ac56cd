#include "download/placement.h"

#include "download/targetnames.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <vector>

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
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL || error == EXDEV;
}

int writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        data += written;
        size -= written;
    }
    return 0;
}

int copyData(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        if (const int error = writeAll(out, buffer.data(), got))
            return error;
    }
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
    if (const int error = flushFolder(targetFolder))
        return QStringLiteral("ERROR: video sai nimen %1, mutta kansion muutosta ei voitu kirjoittaa levylle: %2")
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
    if (first != Method::Copy) {
        if (::linkat(sourceFolder, from.constData(), targetFolder, to.constData(), 0) == 0) {
            // A name left by a failure here goes with the staging folder's
            // clean-up, or at the next start there.
            ::unlinkat(sourceFolder, from.constData(), 0);
            return 0;
        }
        if (!linkMissing(errno))
            return errno;
    }
    return copy(from, to);
}

// The target is made with O_EXCL, so it cannot replace a file either; what
// this copy made goes again when any write fails.
int Placement::copy(const QByteArray &from, const QByteArray &to) const
{
    const int in = ::openat(sourceFolder, from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return errno;
    const int out = ::openat(targetFolder, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    struct stat made{};
    int error = ::fstat(out, &made) == 0 ? copyData(in, out) : errno;
    if (error == 0)
        error = flushAndClose(out);
    else
        ::close(out);
    ::close(in);
    if (error != 0) {
        struct stat named;
        if (::fstatat(targetFolder, to.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && named.st_ino == made.st_ino && named.st_dev == made.st_dev)
            ::unlinkat(targetFolder, to.constData(), 0);
        return error;
    }
    ::unlinkat(sourceFolder, from.constData(), 0);
    return 0;
}

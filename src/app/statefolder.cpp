#include "app/statefolder.h"

#include "download/folderentries.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString baseFolder()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(state))
        return QDir::cleanPath(state);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.local/state"));
}

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

StateFolder::StateFolder()
    : path(baseFolder() + u'/' + QLatin1String(ProgramFolder))
{
    QDir().mkpath(baseFolder());
    const int base = ::open(encoded(baseFolder()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (base >= 0) {
        ::mkdirat(base, ProgramFolder, 0700);
        fd = ::openat(base, ProgramFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(base);
    }
    struct stat info;
    if (fd >= 0 && (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        failure = QStringLiteral("Kansiota %1 ei voi käyttää: keskeneräistä erää ei voi säilyttää").arg(path);
        return;
    }
    // What others could write there they could also plant.
    if (info.st_mode & 077)
        ::fchmod(fd, 0700);
}

StateFolder::~StateFolder()
{
    if (fd >= 0)
        ::close(fd);
}

int StateFolder::openOwnFile(const QString &name, int flags) const
{
    const int file = ::openat(fd, encoded(name).constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (file < 0)
        return -1;
    struct stat info;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(file);
        errno = EPERM;
        return -1;
    }
    return file;
}

StateFolder::Read StateFolder::read(const QString &name, qint64 limit, QByteArray *contents) const
{
    contents->clear();
    const int file = openOwnFile(name, O_RDONLY);
    if (file < 0)
        return errno == ENOENT ? Read::Missing : Read::Unreadable;
    struct stat info;
    Read result = Read::Unreadable;
    if (::fstat(file, &info) == 0 && info.st_size <= limit) {
        // One byte more than the limit shows a file that grew meanwhile.
        contents->resize(qsizetype(info.st_size) + 1);
        qsizetype got = 0;
        while (got < contents->size()) {
            const ssize_t n = ::read(file, contents->data() + got, size_t(contents->size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        contents->truncate(got);
        if (got <= limit)
            result = Read::Ok;
    }
    ::close(file);
    return result;
}

int StateFolder::replace(const QString &name, const QByteArray &contents) const
{
    if (fd < 0)
        return EBADF;
    const QByteArray temporary = encoded(name + QStringLiteral(".new"));
    ::unlinkat(fd, temporary.constData(), 0);
    const int file = ::openat(fd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0)
        return errno;
    int error = writeAll(file, contents) && ::fsync(file) == 0 ? 0 : errno;
    // Some file systems report a failed write only when the file is closed.
    if (::close(file) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::renameat(fd, temporary.constData(), fd, encoded(name).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlinkat(fd, temporary.constData(), 0);
        return error;
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

bool StateFolder::append(const QString &name, const QByteArray &line) const
{
    if (fd < 0)
        return false;
    const int file = openOwnFile(name, O_RDWR | O_CREAT | O_APPEND);
    if (file < 0)
        return false;
    struct stat info;
    char last = '\n';
    const bool fresh = ::fstat(file, &info) == 0 && info.st_size == 0;
    if (!fresh && ::pread(file, &last, 1, info.st_size - 1) != 1)
        last = '\n';
    const QByteArray bytes = (last == '\n' ? QByteArray() : QByteArray("\n")) + line + '\n';
    const bool written = writeAll(file, bytes) && ::fdatasync(file) == 0;
    ::close(file);
    return written && (!fresh || ::fsync(fd) == 0);
}

QString StateFolder::setAside(const QString &name) const
{
    const QString aside = name + QStringLiteral(".unreadable-")
                          + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    if (::renameat(fd, encoded(name).constData(), fd, encoded(aside).constData()) != 0)
        return QString();
    ::fsync(fd);
    return filePath(aside);
}

void StateFolder::remove(const QString &name) const
{
    if (fd >= 0)
        ::unlinkat(fd, encoded(name).constData(), 0);
}

QStringList StateFolder::names(const QString &suffix) const
{
    QStringList found;
    for (const QString &name : folderEntries(fd)) {
        if (name.endsWith(suffix) && name != suffix)
            found << name;
    }
    found.sort();
    return found;
}

int StateFolder::lock(const QString &name, bool wait) const
{
    if (fd < 0)
        return -1;
    int file = openOwnFile(name, O_RDWR | O_CREAT);
    // A lock needs no write: a journal left in a folder that cannot be written still comes back.
    if (file < 0 && (errno == EROFS || errno == EACCES))
        file = openOwnFile(name, O_RDONLY);
    if (file < 0)
        return -1;
    int locked;
    do {
        locked = ::flock(file, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (locked != 0 && errno == EINTR);
    // A lock file that its owner removed meanwhile locks nothing: the name
    // may already stand for a new one.
    struct stat held;
    struct stat named;
    const bool same = locked == 0 && ::fstat(file, &held) == 0
                      && ::fstatat(fd, encoded(name).constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
                      && held.st_ino == named.st_ino && held.st_dev == named.st_dev;
    if (!same) {
        ::close(file);
        return locked == 0 ? lock(name, wait) : -1;
    }
    return file;
}

void StateFolder::unlock(int lockFd)
{
    if (lockFd >= 0)
        ::close(lockFd);
}

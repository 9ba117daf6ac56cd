#include "download/fetchrecord.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A note is a few short lines; anything longer is not one of ours.
constexpr qsizetype LongestNote = 4096;

// What identifies the file as it was when the fetcher ended: "size mtime".
QByteArray fileState(int folderFd, const QByteArray &name)
{
    struct stat info;
    if (::fstatat(folderFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)
        || info.st_nlink != 1)
        return QByteArray();
    return QByteArray::number(qint64(info.st_size)) + ' ' + QByteArray::number(qint64(info.st_mtim.tv_sec)) + '.'
           + QByteArray::number(qint64(info.st_mtim.tv_nsec));
}

QByteArray readNote(int folderFd)
{
    const int fd = ::openat(folderFd, FetchRecord::Name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QByteArray note(LongestNote + 1, '\0');
    const ssize_t got = ::read(fd, note.data(), note.size());
    ::close(fd);
    return got > 0 && got <= LongestNote ? note.left(got) : QByteArray();
}

QByteArray endText(FetchRecord::End end)
{
    return end == FetchRecord::End::Whole ? QByteArray("whole") : QByteArray("too large");
}

} // namespace

void FetchRecord::write(int folderFd, const QString &fileName, End end, double progress)
{
    const QByteArray name = QFile::encodeName(fileName);
    const QByteArray state = fileState(folderFd, name);
    if (state.isEmpty() || name.contains('\n'))
        return;
    const QByteArray note = "end " + endText(end) + "\nstate " + state + "\nprogress "
                            + (progress < 0 ? QByteArray("none") : QByteArray::number(progress, 'f', 1))
                            + "\nfile " + name + '\n';
    const int fd = ::openat(folderFd, Name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, note.constData(), note.size()) == note.size();
    // A note cut short names no file and is read as none.
    if (::close(fd) != 0 || !written)
        ::unlinkat(folderFd, Name, 0);
}

QString FetchRecord::file(int folderFd, End end)
{
    if (folderFd < 0)
        return QString();
    const QList<QByteArray> lines = readNote(folderFd).split('\n');
    if (lines.size() != 5 || lines[0] != "end " + endText(end) || !lines[1].startsWith("state ")
        || !lines[3].startsWith("file ") || !lines[4].isEmpty())
        return QString();
    const QByteArray name = lines[3].mid(5);
    if (name.isEmpty() || name.contains('/') || fileState(folderFd, name) != lines[1].mid(6))
        return QString();
    return QFile::decodeName(name);
}

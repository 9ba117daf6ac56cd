#include "download/stagingfolder.h"

#include "download/folderentries.h"
#include "download/folderowner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The same address twice in a batch gets a folder of its own for each
// occurrence; past this many something else is wrong.
constexpr int MostOccurrences = 100;
// A finishing download removes the shared root when it is empty, which may
// happen while another one makes its folder in it: that one tries again.
constexpr int Attempts = 3;
constexpr const char *LockName = ".lock";

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Takes the folder's lock without waiting. -1 with EWOULDBLOCK when another
// job holds it; a lock file made here goes again when the lock fails.
int tryLock(int folderFd)
{
    int fd = ::openat(folderFd, LockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::openat(folderFd, LockName, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (created && error != EWOULDBLOCK)
            ::unlinkat(folderFd, LockName, 0);
        ::close(fd);
        errno = error;
        return -1;
    }
    // A job that finished here removed the lock file before we locked it;
    // the folder is on its way out.
    struct stat held, named;
    if (::fstat(fd, &held) != 0 || ::fstatat(folderFd, LockName, &named, AT_SYMLINK_NOFOLLOW) != 0
        || held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
        ::close(fd);
        errno = EWOULDBLOCK;
        return -1;
    }
    return fd;
}

// A crash between the link and the unlink of placing leaves a staging name
// linked to the user's saved video; writing through it would change that
// video, so the name goes, which only finishes the interrupted step.
void dropLinksToSavedFiles(int folderFd)
{
    for (const QString &name : folderEntries(folderFd)) {
        struct stat info;
        const QByteArray bytes = QFile::encodeName(name);
        if (::fstatat(folderFd, bytes.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(info.st_mode) && info.st_nlink > 1)
            ::unlinkat(folderFd, bytes.constData(), 0);
    }
}

// Removes the emptied job folder. On a FUSE disk a file removed while still
// open lives on as ".fuse_hidden…" until the file system has seen it closed,
// a moment later: the folder is tried again for a short while, then left.
// A FAT disk through FUSE says EPERM, not ENOTEMPTY, for a folder not empty.
void removeJobFolder(int rootFd, int folderFd, const QByteArray &name)
{
    const auto notEmpty = [] { return errno == ENOTEMPTY || errno == EEXIST || errno == EPERM; };
    for (int tries = 0; ::unlinkat(rootFd, name.constData(), AT_REMOVEDIR) != 0 && notEmpty() && tries < 50;
         ++tries) {
        const QStringList left = folderEntries(folderFd);
        const bool onlyHidden = std::all_of(left.begin(), left.end(), [](const QString &entry) {
            return entry.startsWith(QLatin1String(".fuse_hidden"));
        });
        if (!onlyHidden)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Whether `path` still names the folder held open as `fd`.
bool stillThere(int fd, const QString &path, int flags)
{
    struct stat held, named;
    return ::fstat(fd, &held) == 0
           && ::fstatat(AT_FDCWD, QFile::encodeName(path).constData(), &named, flags) == 0
           && held.st_ino == named.st_ino && held.st_dev == named.st_dev;
}

} // namespace

StagingFolder::StagingFolder() = default;

StagingFolder::~StagingFolder()
{
    close();
}

QString StagingFolder::key(const QString &pageUrl)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(pageUrl.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

QString StagingFolder::open(const QString &outputFolder, const QString &pageUrl)
{
    output = QDir(outputFolder.isEmpty() ? QDir::currentPath() : outputFolder).absolutePath();
    // The output folder is the user's own choice, a link to a folder included.
    outputFd = ::open(QFile::encodeName(output).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The folder is the user's to make; a mistyped one must not appear.
    if (outputFd < 0 && (errno == ENOENT || errno == ENOTDIR))
        return QStringLiteral("ERROR: tallennuskansiota %1 ei ole").arg(output);
    if (outputFd < 0) {
        const int error = errno;
        return QStringLiteral("ERROR: tallennuskansiota %1 ei voitu avata: %2").arg(output, systemError(error));
    }
    owner = std::make_unique<FolderOwner>(outputFd);
    QString failure;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        bool again = false;
        failure = openIn(pageUrl, &again);
        if (!again)
            break;
        failure = QStringLiteral("ERROR: latauskansiota ei voitu luoda kansioon %1").arg(output);
    }
    if (!failure.isEmpty())
        close();
    return failure;
}

// Returns why the folder cannot be used, or an empty string once it is open.
// `*again` when a finishing job removed the root or the folder meanwhile.
QString StagingFolder::openIn(const QString &pageUrl, bool *again)
{
    closeFd(rootFd);
    const QString root = output + u'/' + QLatin1String(RootName);
    if (::mkdirat(outputFd, RootName, 0700) != 0 && errno != EEXIST) {
        const int error = errno;
        return QStringLiteral("ERROR: latauskansiota %1 ei voitu luoda: %2").arg(root, systemError(error));
    }
    rootFd = owner->open(outputFd, RootName);
    *again = rootFd < 0 && errno == ENOENT;
    if (rootFd < 0)
        return QStringLiteral("ERROR: %1 on linkki tai toisen käyttäjän kansio, eikä sitä käytetä").arg(root);

    // Of this address's folders that no job holds, the first with a partial
    // download is resumed; else the first free one is taken. A link or a
    // stranger's folder under one of the names is left alone.
    int firstFree = 0;
    QString failure;
    for (int occurrence = 1; occurrence <= MostOccurrences; ++occurrence) {
        const Taken taken = takeFolder(occurrenceName(pageUrl, occurrence), &failure);
        if (taken == Taken::Failed)
            return failure;
        if (taken == Taken::Missing && firstFree == 0)
            firstFree = occurrence;
        if (taken != Taken::Yes)
            continue;
        if (folderEntries(folderFd) != QStringList{QLatin1String(LockName)})
            break;
        if (firstFree == 0)
            firstFree = occurrence;
        closeFd(lockFd);
        closeFd(folderFd);
    }
    if (folderFd < 0) {
        if (firstFree == 0)
            return QStringLiteral("ERROR: liian monta samanaikaista latausta osoitteesta %1").arg(pageUrl);
        const QString name = occurrenceName(pageUrl, firstFree);
        if (::mkdirat(rootFd, QFile::encodeName(name).constData(), 0700) != 0 && errno != EEXIST) {
            const int error = errno;
            *again = error == ENOENT;
            return QStringLiteral("ERROR: latauskansiota %1/%2 ei voitu luoda: %3")
                .arg(root, name, systemError(error));
        }
        const Taken taken = takeFolder(name, &failure);
        *again = taken != Taken::Yes && taken != Taken::Failed;
        if (taken == Taken::Failed) {
            // Nothing of a job that never started stays behind; both fail when not empty.
            ::unlinkat(rootFd, QFile::encodeName(name).constData(), AT_REMOVEDIR);
            ::unlinkat(outputFd, RootName, AT_REMOVEDIR);
        }
        if (taken != Taken::Yes)
            return failure;
    }
    dropLinksToSavedFiles(folderFd);
    folder = root + u'/' + folderName;
    return QString();
}

QString StagingFolder::occurrenceName(const QString &pageUrl, int occurrence)
{
    return occurrence > 1 ? key(pageUrl) + u'-' + QString::number(occurrence) : key(pageUrl);
}

// Opens and locks the folder `name` in the root; sets `*failure` when a lock
// fails for another reason than another job holding it.
StagingFolder::Taken StagingFolder::takeFolder(const QString &name, QString *failure)
{
    folderFd = owner->open(rootFd, QFile::encodeName(name));
    if (folderFd < 0)
        return errno == ENOENT ? Taken::Missing : Taken::NotOurs;
    lockFd = tryLock(folderFd);
    if (lockFd >= 0) {
        folderName = name;
        return Taken::Yes;
    }
    const int error = errno;
    closeFd(folderFd);
    // ENOENT: the folder was removed by a job that finished there.
    if (error == EWOULDBLOCK || error == ENOENT)
        return Taken::Busy;
    *failure = QStringLiteral("ERROR: latauskansiota %1/%2/%3 ei voitu lukita: %4")
                   .arg(output, QLatin1String(RootName), name, systemError(error));
    return Taken::Failed;
}

QString StagingFolder::goneFailure() const
{
    if (folderFd < 0)
        return QString();
    if (!stillThere(outputFd, output, 0))
        return QStringLiteral("ERROR: tallennuskansio %1 poistettiin tai siirrettiin kesken latauksen").arg(output);
    if (!stillThere(folderFd, folder, AT_SYMLINK_NOFOLLOW))
        return QStringLiteral("ERROR: latauskansio %1 poistettiin tai siirrettiin kesken latauksen").arg(folder);
    return QString();
}

QString StagingFolder::keptPart() const
{
    for (const QString &name : folderEntries(folderFd)) {
        struct stat info;
        if (name.endsWith(QLatin1String(".flv"))
            && ::fstatat(folderFd, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(info.st_mode) && info.st_size > 0)
            return filePath(name);
    }
    return QString();
}

void StagingFolder::removeFile(const QString &name) const
{
    if (folderFd >= 0)
        ::unlinkat(folderFd, QFile::encodeName(name).constData(), 0);
}

void StagingFolder::remove(const QStringList &names)
{
    if (folderFd < 0)
        return;
    for (const QString &name : names)
        removeFile(name);
    // The lock file goes while it is still locked: a job that opens it
    // meanwhile sees that it no longer carries the name and moves on.
    ::unlinkat(folderFd, LockName, 0);
    closeFd(lockFd);
    // Both fail while anything else is left there, as they should.
    removeJobFolder(rootFd, folderFd, QFile::encodeName(folderName));
    ::unlinkat(outputFd, RootName, AT_REMOVEDIR);
    close();
}

void StagingFolder::removeIfEmpty()
{
    if (folderFd >= 0 && folderEntries(folderFd) == QStringList{QLatin1String(LockName)})
        remove({});
}

void StagingFolder::close()
{
    closeFd(lockFd);
    closeFd(folderFd);
    closeFd(rootFd);
    closeFd(outputFd);
    folder.clear();
}

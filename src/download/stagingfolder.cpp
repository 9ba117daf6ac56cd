#include "download/stagingfolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The same address twice in a batch gets a folder of its own for each
// occurrence; past this many something else is wrong.
constexpr int MostOccurrences = 100;

// Takes the folder's lock without waiting; -1 when another job holds it.
int tryLock(const QString &folder)
{
    const QByteArray lockName = QFile::encodeName(folder + QStringLiteral("/.lock"));
    const int fd = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// A finishing download removes the shared root when it is empty, which may
// happen between the making of the root and of our folder in it: try again.
bool makeFolder(const QString &path)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (QDir().mkpath(path))
            return true;
    }
    return false;
}

} // namespace

StagingFolder::~StagingFolder()
{
    unlock();
}

QString StagingFolder::key(const QString &pageUrl)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(pageUrl.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

QString StagingFolder::open(const QString &outputFolder, const QString &pageUrl)
{
    const QDir output(outputFolder.isEmpty() ? QDir::currentPath() : outputFolder);
    // The folder is the user's to make; a mistyped one must not appear.
    if (!output.exists())
        return QStringLiteral("ERROR: tallennuskansiota %1 ei ole").arg(output.absolutePath());
    const QString root = output.absoluteFilePath(QLatin1String(RootName));
    for (int occurrence = 1; occurrence <= MostOccurrences; ++occurrence) {
        QString candidate = root + u'/' + key(pageUrl);
        if (occurrence > 1)
            candidate += u'-' + QString::number(occurrence);
        if (!makeFolder(candidate))
            return QStringLiteral("ERROR: latauskansiota %1 ei voitu luoda").arg(candidate);
        lockFd = tryLock(candidate);
        if (lockFd >= 0) {
            folder = candidate;
            return QString();
        }
        if (errno != EWOULDBLOCK)
            return QStringLiteral("ERROR: latauskansiota %1 ei voitu lukita: %2")
                .arg(candidate, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return QStringLiteral("ERROR: liian monta samanaikaista latausta osoitteesta %1").arg(pageUrl);
}

void StagingFolder::remove()
{
    if (folder.isEmpty())
        return;
    QDir(folder).removeRecursively();
    unlock();
    // Fails while other downloads wait there, as it should.
    QDir().rmdir(QFileInfo(folder).path());
    folder.clear();
}

void StagingFolder::removeIfEmpty()
{
    if (!folder.isEmpty()
        && QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
               == QStringList{QStringLiteral(".lock")})
        remove();
}

void StagingFolder::unlock()
{
    if (lockFd >= 0)
        ::close(lockFd);
    lockFd = -1;
}

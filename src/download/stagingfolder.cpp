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
    const QString root = output.absoluteFilePath(QLatin1String(RootName));
    for (int occurrence = 1; occurrence <= MostOccurrences; ++occurrence) {
        QString candidate = root + u'/' + key(pageUrl);
        if (occurrence > 1)
            candidate += u'-' + QString::number(occurrence);
        if (!QDir().mkpath(candidate))
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

void StagingFolder::unlock()
{
    if (lockFd >= 0)
        ::close(lockFd);
    lockFd = -1;
}

#include "download/targetnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

std::mutex TargetNames::lock;
std::set<QString> TargetNames::claimed;

namespace {

// Claims are kept as absolute paths, so "out" and "./out" are one folder.
QString absoluteFolder(const QString &folder)
{
    return QDir(folder.isEmpty() ? QDir::currentPath() : folder).absolutePath();
}

// Names that differ only in case are one file on FAT, exFAT and CIFS, so a
// claim holds every spelling of its name.
QString claimKey(const QString &path)
{
    return path.toCaseFolded();
}

} // namespace

QString TargetNames::numbered(const QString &stem, int n)
{
    if (n <= 1)
        return stem + QStringLiteral("mp4");
    return stem.chopped(1) + QStringLiteral(" (%1).mp4").arg(n);
}

bool TargetNames::onDisk(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString TargetNames::claim(const QString &folder, const QString &stem)
{
    const QString absolute = absoluteFolder(folder);
    const std::lock_guard<std::mutex> guard(lock);
    for (int n = 1;; ++n) {
        const QString path = absolute + u'/' + numbered(stem, n);
        if (claimed.count(claimKey(path)) == 0 && !onDisk(path)) {
            claimed.insert(claimKey(path));
            return path;
        }
    }
}

void TargetNames::release(const QString &path)
{
    const std::lock_guard<std::mutex> guard(lock);
    claimed.erase(claimKey(path));
}

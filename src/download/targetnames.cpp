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
    const QString ending = n <= 1 ? QStringLiteral(".mp4") : QStringLiteral(" (%1).mp4").arg(n);
    // A file system takes at most 255 bytes in one name; a longer one would be
    // refused, and lstat() would call it free. The title gives way, cut
    // between two characters, never inside one.
    constexpr qsizetype longestName = 255;
    const qsizetype room = longestName - QFile::encodeName(ending).size();
    QByteArray title = QFile::encodeName(stem.chopped(1));
    if (title.size() <= room)
        return stem.chopped(1) + ending;
    qsizetype cut = room;
    while (cut > 0 && (uchar(title.at(cut)) & 0xC0) == 0x80)
        --cut;
    title.truncate(cut);
    return QFile::decodeName(title) + ending;
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

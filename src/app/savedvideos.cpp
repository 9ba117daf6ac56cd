#include "app/savedvideos.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString LockName = QStringLiteral("saved.lock");

QByteArray encoded(const QString &text)
{
    return QUrl::toPercentEncoding(text, "/:?=&#@!$'()*+,[]");
}

std::optional<QString> decoded(QByteArrayView field)
{
    if (field.isEmpty())
        return std::nullopt;
    for (const char c : field) {
        if (c <= ' ' || c > '~')
            return std::nullopt;
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field.toByteArray()));
}

QByteArray check(QByteArrayView text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex().left(8);
}

// A plain name in the folder: no path, no link to follow out of it.
bool plainName(const QString &name)
{
    return !name.isEmpty() && name != u'.' && name != QLatin1String("..") && !name.contains(u'/')
           && !name.contains(QChar(0));
}

// The file's size and time, without following a link; nothing for anything
// but a regular file.
std::optional<SavedVideos::Entry> fileState(const QString &path)
{
    struct stat info;
    if (::fstatat(AT_FDCWD, QFile::encodeName(path).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(info.st_mode))
        return std::nullopt;
    SavedVideos::Entry entry;
    entry.size = qint64(info.st_size);
    entry.modified = qint64(info.st_mtim.tv_sec);
    return entry;
}

} // namespace

QByteArray SavedVideos::formatLine(const Entry &entry)
{
    const QByteArray text = encoded(entry.address) + ' ' + encoded(entry.name) + ' '
                            + QByteArray::number(entry.size) + ' ' + QByteArray::number(entry.modified);
    return text + ' ' + check(text);
}

std::optional<SavedVideos::Entry> SavedVideos::parseLine(QByteArrayView line)
{
    const qsizetype checkAt = line.lastIndexOf(' ');
    if (checkAt < 0 || line.sliced(checkAt + 1) != check(line.first(checkAt)))
        return std::nullopt;
    const QList<QByteArray> fields = line.first(checkAt).toByteArray().split(' ');
    if (fields.size() != 4)
        return std::nullopt;
    Entry entry;
    bool sized = false;
    bool timed = false;
    entry.size = fields[2].toLongLong(&sized);
    entry.modified = fields[3].toLongLong(&timed);
    const std::optional<QString> address = decoded(fields[0]);
    const std::optional<QString> name = decoded(fields[1]);
    if (!sized || !timed || entry.size < 0 || !address || !name || !plainName(*name))
        return std::nullopt;
    entry.address = *address;
    entry.name = *name;
    return entry;
}

QHash<QString, SavedVideos::Entry> SavedVideos::parse(QByteArrayView bytes)
{
    QHash<QString, Entry> found;
    // A line not ended by a line break may have been cut by a crash.
    for (qsizetype start = 0, end; (end = bytes.indexOf('\n', start)) >= 0; start = end + 1) {
        if (const std::optional<Entry> entry = parseLine(bytes.sliced(start, end - start)))
            found.insert(entry->address, *entry);
    }
    return found;
}

QString SavedVideos::wholePath(const QString &folder)
{
    return QDir::cleanPath(QFileInfo(folder.isEmpty() ? QStringLiteral(".") : folder).absoluteFilePath());
}

SavedVideos::SavedVideos(const QString &folder)
    : given(folder)
    , absolute(QFileInfo(wholePath(folder)).canonicalFilePath())
{
    // One record for a folder however it is reached; a folder not made yet holds no video.
    if (absolute.isEmpty())
        absolute = wholePath(folder);
    recordName = QStringLiteral("saved-%1.list")
                     .arg(QString::fromLatin1(
                         QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16)));
    QByteArray bytes;
    const int lockFd = state.lock(LockName, true);
    const StateFolder::Read read = state.isOpen() ? state.read(recordName, SizeLimit, &bytes)
                                                  : StateFolder::Read::Missing;
    // One that cannot be read costs second copies, never a refused video.
    if (read == StateFolder::Read::Unreadable)
        state.setAside(recordName);
    StateFolder::unlock(lockFd);
    entries = parse(bytes);
    recordSize = bytes.size();
}

bool SavedVideos::stillThere(const QString &address) const
{
    Entry entry;
    {
        std::lock_guard<std::mutex> guard(entriesMutex);
        const auto found = entries.constFind(address);
        if (found == entries.cend())
            return false;
        entry = *found;
    }
    const std::optional<Entry> now = fileState(absolute + u'/' + entry.name);
    return now && now->size == entry.size && now->modified == entry.modified;
}

void SavedVideos::remember(const QString &address, const QString &target, const QString &file)
{
    std::optional<Entry> entry = fileState(file);
    const QString name = QFileInfo(target).fileName();
    if (!entry || !plainName(name) || address.isEmpty())
        return;
    entry->address = address;
    entry->name = name;
    const QByteArray line = formatLine(*entry);
    {
        std::lock_guard<std::mutex> guard(entriesMutex);
        entries.insert(address, *entry);
    }
    // The window asks while a flush runs here.
    std::lock_guard<std::mutex> guard(fileMutex);
    const int lockFd = state.lock(LockName, true);
    if (lockFd < 0)
        return;
    state.append(recordName, line);
    recordSize += line.size() + 1;
    if (recordSize > SizeLimit / 2)
        compact();
    StateFolder::unlock(lockFd);
}

// Each address once, the newest lines kept; read again first, for other
// copies' lines. A line is kept whether or not its file stands: each is
// written before its video is renamed into the folder, and jobs of this or
// another copy may be between the two.
void SavedVideos::compact()
{
    QByteArray bytes;
    if (state.read(recordName, SizeLimit, &bytes) != StateFolder::Read::Ok)
        return;
    QList<QByteArray> kept;
    qint64 size = 0;
    QHash<QString, bool> seen;
    const QList<QByteArray> lines = bytes.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend() && size < SizeLimit / 4; ++line) {
        const std::optional<Entry> entry = parseLine(*line);
        if (!entry || seen.contains(entry->address))
            continue;
        seen.insert(entry->address, true);
        kept.prepend(*line);
        size += line->size() + 1;
    }
    if (state.replace(recordName, kept.join('\n') + (kept.isEmpty() ? "" : "\n")) == 0)
        recordSize = size;
}

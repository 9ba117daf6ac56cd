#include "download/finishing.h"

#include "download/targetnames.h"
#include "external/externalprograms.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace finishing {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// fsync() of a file or a folder; a file system that cannot flush a folder
// (EINVAL) has nothing more to flush.
bool flush(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return flushed;
}

// rename() that never replaces: renameat2() where the file system has it,
// else link() and unlink(), else a check just before a plain rename().
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.constData(), to.constData()) == 0)
        return ::unlink(from.constData()) == 0 ? 0 : errno;
    if (errno == EEXIST)
        return EEXIST;
    if (TargetNames::onDisk(QFile::decodeName(to)))
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

} // namespace

QString diskName(const QString &childText)
{
    return QFile::decodeName(childText.toLatin1());
}

QString nameFailure(const QString &baseName)
{
    if (baseName.isEmpty())
        return unnamedDownload();
    const QByteArray bytes = baseName.toLatin1();
    const QString name = diskName(baseName);
    const QString fetcher = external::fetcherProgram();
    if (name.contains(u'/'))
        return QStringLiteral("ERROR: %1 antoi tiedostonimen toiseen kansioon: %2flv").arg(fetcher, name);
    // Qt turns bytes that are not UTF-8 into replacement characters; the file
    // could be neither found nor removed under that name.
    if (name.toUtf8() != bytes)
        return QStringLiteral("ERROR: %1 antoi tiedostonimen, joka ei ole UTF-8-tekstiä: %2flv")
            .arg(fetcher, name);
    // The extension adds three bytes; longer names do not fit in a directory entry.
    constexpr qsizetype longestName = 255;
    if (bytes.size() + 3 > longestName)
        return QStringLiteral("ERROR: %1 antoi liian pitkän tiedostonimen (%2 tavua)")
            .arg(fetcher)
            .arg(bytes.size() + 3);
    return QString();
}

QString fetchedName(const QString &baseName)
{
    return diskName(baseName) + QStringLiteral("flv");
}

QString convertedName(const QString &baseName)
{
    return diskName(baseName) + QStringLiteral("mp4");
}

QString converterFile(const QString &path)
{
    // Plain names stay as they are; only those ffmpeg would misread get the prefix.
    if (path.contains(u':') || path.startsWith(u'-'))
        return QStringLiteral("file:") + path;
    return path;
}

QString conversionFailure(const QString &fetched, const QString &converted,
                          const ConversionResult &result)
{
    if (!result.exitedNormally)
        return QStringLiteral("ERROR: %1 kaatui").arg(external::converterProgram())
               + keptFile(fetched);
    if (result.exitCode != 0)
        return QStringLiteral("ERROR: muunnos epäonnistui (%1 päättyi koodilla %2)")
                   .arg(external::converterProgram())
                   .arg(result.exitCode)
               + keptFile(fetched);
    if (result.targetSize < 0)
        return QStringLiteral("ERROR: muunnos ei tuottanut tiedostoa ") + converted
               + keptFile(fetched);
    if (result.targetSize == 0)
        return QStringLiteral("ERROR: muunnos tuotti tyhjän tiedoston ") + converted
               + keptFile(fetched);
    return QString();
}

QString fetcherEndFailure(bool exitedNormally, int exitCode)
{
    if (!exitedNormally) {
        const char *name = ::sigabbrev_np(exitCode);
        return QStringLiteral("ERROR: lataus keskeytyi, %1 päättyi signaaliin %2%3")
            .arg(external::fetcherProgram())
            .arg(exitCode)
            .arg(name ? QStringLiteral(" (SIG%1)").arg(QLatin1String(name)) : QString());
    }
    if (exitCode != 0)
        return QStringLiteral("ERROR: lataus epäonnistui, %1 päättyi koodilla %2")
            .arg(external::fetcherProgram())
            .arg(exitCode);
    return QString();
}

QString fetchedFailure(const QString &fetched)
{
    const QFileInfo source(fetched);
    if (!source.exists())
        return QStringLiteral("ERROR: ladattua tiedostoa ei löydy: ") + fetched;
    if (source.size() == 0)
        return QStringLiteral("ERROR: ladattu tiedosto on tyhjä") + keptFile(fetched);
    return QString();
}

QString placeFile(const QString &source, QString *target, const QString &stem)
{
    if (!flush(source, O_RDONLY))
        return QStringLiteral("ERROR: tiedostoa %1 ei voitu kirjoittaa levylle").arg(source);
    const QByteArray from = QFile::encodeName(source);
    for (;;) {
        const int error = renameNoReplace(from, QFile::encodeName(*target));
        if (error == 0)
            break;
        if (error != EEXIST)
            return QStringLiteral("ERROR: tiedostoa ei voitu tallentaa nimellä %1: %2")
                .arg(*target, systemError(error));
        const QString taken = *target;
        *target = TargetNames::claim(QFileInfo(taken).path(), stem);
        TargetNames::release(taken);
    }
    flush(QFileInfo(*target).path(), O_RDONLY | O_DIRECTORY);
    return QString();
}

QString keptFile(const QString &fetched)
{
    return QStringLiteral(", ladattu tiedosto säilytetty: ") + fetched;
}

QString childFailure(QString errorText, const QString &fetched)
{
    while (errorText.endsWith(u'\n') || errorText.endsWith(u'\r'))
        errorText.chop(1);
    return errorText + keptFile(fetched);
}

QString startFailure(const QString &program)
{
    return QStringLiteral("ERROR: ohjelmaa %1 ei voitu käynnistää").arg(program);
}

QString converterStartFailure(const QString &fetched)
{
    return startFailure(external::converterProgram()) + keptFile(fetched);
}

QString unnamedDownload()
{
    return QStringLiteral("ERROR: %1 päättyi kertomatta tallentamansa tiedoston nimeä")
        .arg(external::fetcherProgram());
}

} // namespace finishing

#include "download/finishing.h"

#include "external/externalprograms.h"

#include <QFile>
#include <QFileInfo>

namespace finishing {

namespace {

QString keptSuffix(const QString &fetched)
{
    return QStringLiteral(", ladattu tiedosto säilytetty: ") + fetched;
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

QString fetchedFile(const QString &baseName)
{
    return diskName(baseName) + QStringLiteral("flv");
}

QString targetFile(const QString &folder, const QString &baseName)
{
    const QString separator = folder.isEmpty() ? QString() : QStringLiteral("/");
    return folder + separator + diskName(baseName) + QStringLiteral("mp4");
}

QString converterFile(const QString &path)
{
    // Plain names stay as they are; only those ffmpeg would misread get the prefix.
    if (path.contains(u':') || path.startsWith(u'-'))
        return QStringLiteral("file:") + path;
    return path;
}

QString conversionFailure(const QString &fetched, const QString &target,
                          const ConversionResult &result)
{
    if (!result.exitedNormally)
        return QStringLiteral("ERROR: %1 kaatui").arg(external::converterProgram())
               + keptSuffix(fetched);
    if (result.exitCode != 0)
        return QStringLiteral("ERROR: muunnos epäonnistui (%1 päättyi koodilla %2)")
                   .arg(external::converterProgram())
                   .arg(result.exitCode)
               + keptSuffix(fetched);
    if (result.targetSize < 0)
        return QStringLiteral("ERROR: muunnos ei tuottanut tiedostoa ") + target
               + keptSuffix(fetched);
    if (result.targetSize == 0)
        return QStringLiteral("ERROR: muunnos tuotti tyhjän tiedoston ") + target
               + keptSuffix(fetched);
    return QString();
}

QString moveDownload(const QString &fetched, const QString &target)
{
    const QFileInfo source(fetched);
    if (!source.exists())
        return QStringLiteral("ERROR: ladattua tiedostoa ei löydy: ") + fetched;
    if (source.size() == 0)
        return QStringLiteral("ERROR: ladattu tiedosto on tyhjä") + keptSuffix(fetched);
    // The converter overwrites an existing target (-y); the move does the same,
    // so that an older file of the same name never stands for this download.
    if (QFileInfo::exists(target) && !QFile::remove(target))
        return QStringLiteral("ERROR: vanhaa tiedostoa ei voitu korvata: ") + target
               + keptSuffix(fetched);
    // rename() copies and removes by itself when the target lies on another file system.
    if (!QFile::rename(fetched, target))
        return QStringLiteral("ERROR: tiedostoa ei voitu siirtää kohteeseen ") + target
               + keptSuffix(fetched);
    return QString();
}

QString startFailure(const QString &program)
{
    return QStringLiteral("ERROR: ohjelmaa %1 ei voitu käynnistää").arg(program);
}

QString converterStartFailure(const QString &fetched)
{
    return startFailure(external::converterProgram()) + keptSuffix(fetched);
}

QString unnamedDownload()
{
    return QStringLiteral("ERROR: %1 päättyi kertomatta tallentamansa tiedoston nimeä")
        .arg(external::fetcherProgram());
}

} // namespace finishing

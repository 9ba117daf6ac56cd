#include "download/finishing.h"

#include "external/externalprograms.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

namespace finishing {

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

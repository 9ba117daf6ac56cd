#include "download/finishing.h"

#include "external/externalprograms.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace finishing {

namespace {

// What the converter prints when a write to its output fails: lines that
// begin with these, or end with the system's text for a full disk.
const QLatin1String writeFailures[] = {
    QLatin1String("Error writing"), QLatin1String("Error closing"),
    QLatin1String("Error muxing"), QLatin1String("av_interleaved_write_frame()")};
const QLatin1String noSpaceErrors[] = {QLatin1String("No space left on device"),
                                       QLatin1String("Disk quota exceeded")};

struct WriteFailure
{
    QString what; // empty: none
    bool noSpace = false;
};

// Only whole lines count, with any "[muxer @ 0x…] " in front taken off, and
// not the indented listings of the files: a file's name and its metadata,
// which come from the portal, may hold any words.
WriteFailure writeFailure(const QString &output)
{
    static const QRegularExpression lineEnds(QStringLiteral("[\\r\\n]"));
    static const QRegularExpression context(QStringLiteral("^\\[[^\\]]*\\] "));
    WriteFailure found;
    for (QString line : output.split(lineEnds, Qt::SkipEmptyParts)) {
        if (line.startsWith(u' '))
            continue;
        line.remove(context);
        for (const QLatin1String &error : noSpaceErrors) {
            if (line.endsWith(QStringLiteral(": ") + error))
                return {error, true};
        }
        for (const QLatin1String &start : writeFailures) {
            if (found.what.isEmpty() && line.startsWith(start))
                found.what = start;
        }
    }
    return found;
}

// After a full disk the fetched file waits in the staging folder; the same
// address saved again goes on from it.
const QLatin1String freeRoomAndRetry("vapauta tilaa ja paina Tallenna uudelleen");

// Room a conversion needs beside a fetched file of `fetchedSize` bytes: the
// MP4 is about as large as the fetched file; the margin covers its index.
qint64 roomNeeded(qint64 fetchedSize)
{
    constexpr qint64 margin = 1024 * 1024;
    return fetchedSize + fetchedSize / 50 + margin;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 tavua").arg(bytes);
    return QLocale(QLocale::Finnish).formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
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
    if (const WriteFailure failed = writeFailure(result.output); !failed.what.isEmpty())
        return QStringLiteral("ERROR: muunnos epäonnistui, %1 (%2: %3)%4")
                   .arg(failed.noSpace ? QStringLiteral("levytila loppui")
                                       : QStringLiteral("tiedostoa ei voitu kirjoittaa"),
                        external::converterProgram(), failed.what,
                        failed.noSpace ? QStringLiteral("; ") + freeRoomAndRetry : QString())
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
    if (!result.cut.isEmpty())
        return QStringLiteral("ERROR: muunnos jäi kesken, MP4-tiedosto oli vajaa (%1) eikä sitä tallennettu")
                   .arg(result.cut)
               + keptFile(fetched);
    return QString();
}

QString roomFailure(const QString &folder, qint64 fetchedSize, qint64 available,
                    const QString &fetched)
{
    if (available < 0 || available >= roomNeeded(fetchedSize))
        return QString();
    return QStringLiteral("ERROR: kansiosta %1 loppui tila, muunnokseen tarvitaan %2 ja vapaana on %3; %4")
               .arg(folder, sizeText(roomNeeded(fetchedSize)), sizeText(available), freeRoomAndRetry)
           + keptFile(fetched);
}

QString fullDiskFailure(QString errorText, const QString &folder, qint64 available)
{
    if (errorText.startsWith(QLatin1String("ERROR: ")))
        errorText.remove(0, 7);
    return QStringLiteral("ERROR: lataus jäi kesken, kansiosta %1 loppui tila (vapaana %2); %3. %4")
        .arg(folder, sizeText(available), freeRoomAndRetry, errorText);
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

QString stoppedEarlyFailure(double percent)
{
    return QStringLiteral("ERROR: lataus jäi kesken kohtaan %1 %, vaikka %2 päättyi virheittä; "
                          "paina Tallenna uudelleen, niin lataus jatkuu siitä")
        .arg(QLocale(QLocale::Finnish).toString(percent, 'f', 1), external::fetcherProgram());
}

bool saysTooLarge(const QString &output)
{
    // The children's texts of EFBIG: the C library's, in English or in the user's language.
    return output.contains(QLatin1String("File too large"))
           || output.contains(QString::fromLocal8Bit(std::strerror(EFBIG)));
}

QString tooLargeFailure(const QString &folder, bool fat32)
{
    const QString disk = fat32 ? QStringLiteral("kansion %1 levyn tiedostojärjestelmä (FAT32) sallii enintään "
                                                 "4 Gt:n tiedostot")
                               : QStringLiteral("kansion %1 levy ei salli näin suurta tiedostoa "
                                                "(FAT32-levyllä raja on 4 Gt)");
    return QStringLiteral("ERROR: video ei mahdu levylle: %1, eikä uusi yritys samaan kansioon auta; "
                          "valitse tallennuskansio toiselta levyltä (esimerkiksi exFAT, NTFS tai ext4)")
        .arg(disk.arg(folder));
}

QString fetchedFailure(const QString &fetched)
{
    const QFileInfo source(fetched);
    if (!source.exists())
        return QStringLiteral("ERROR: ladattua tiedostoa ei löydy: ") + fetched;
    if (source.size() == 0)
        return emptyFetchFailure() + keptFile(fetched);
    return QString();
}

QString emptyFetchFailure()
{
    return QStringLiteral("ERROR: ladattu tiedosto on tyhjä");
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

#include "download/fetchstep.h"

#include "download/disk.h"
#include "download/finishing.h"
#include "download/stagingfolder.h"
#include "external/externalprograms.h"

#include <QFile>
#include <QFileInfo>

namespace {

// A write that stopped this close to the file system's largest file hit it.
constexpr qint64 LimitMargin = 16 * 1024 * 1024;

} // namespace

FetchStep::FetchStep(StagingFolder &staging, outputparser::State &text)
    : staging(staging)
    , text(text)
{
}

// The job's name of the file noted with that end, or an empty string.
QString FetchStep::noted(FetchRecord::End end) const
{
    const QString name = FetchRecord::file(staging.descriptor(), end);
    // The job holds the name as the fetcher's bytes, one per character.
    const QString baseName = QString::fromLatin1(QFile::encodeName(name).chopped(3));
    if (!name.endsWith(QLatin1String(".flv")) || !finishing::nameFailure(baseName).isEmpty())
        return QString();
    return baseName;
}

QString FetchStep::keptTooLarge()
{
    const QString baseName = noted(FetchRecord::End::TooLarge);
    if (baseName.isEmpty())
        return QString();
    text.baseName = baseName;
    return finishing::childFailure(
        finishing::tooLargeFailure(staging.outputPath(), disk::fileSizeLimit(staging.descriptor()) > 0), fetched());
}

bool FetchStep::foundWhole()
{
    const QString baseName = noted(FetchRecord::End::Whole);
    if (baseName.isEmpty()) {
        staging.removeFile(QLatin1String(FetchRecord::Name));
        return false;
    }
    text.baseName = baseName;
    text.percent1 = 100;
    return true;
}

QString FetchStep::end(const End &ended)
{
    outputparser::readLastProgress(text);
    const QString error = failure(ended);
    if (error.isEmpty()) {
        if (finishing::nameFailure(text.baseName).isEmpty())
            note(FetchRecord::End::Whole);
        return error;
    }
    if (!ended.started)
        return namingEarlierPart(error);
    bool tooLarge = false;
    const QString said = diskFailure(error, &tooLarge);
    if (!keepPartial())
        return text.baseName.isEmpty() ? namingEarlierPart(said) : said;
    // Fetching again into the same folder would only run into the limit again.
    if (tooLarge)
        note(FetchRecord::End::TooLarge);
    return finishing::childFailure(said, fetched());
}

// A fetcher that failed before it named its file left the part an earlier
// run kept as it was; the message names it all the same.
QString FetchStep::namingEarlierPart(const QString &error) const
{
    const QString kept = staging.keptPart();
    return kept.isEmpty() ? error : finishing::childFailure(error, kept);
}

void FetchStep::note(FetchRecord::End end) const
{
    FetchRecord::write(staging.descriptor(), finishing::fetchedName(text.baseName), end, text.shownPercent);
}

// Only a fetcher that exited by itself with status 0, said no error and
// showed its progress reach the end has fetched the whole video.
QString FetchStep::failure(const End &ended) const
{
    if (!ended.started)
        return finishing::startFailure(external::fetcherProgram());
    QString error = outputparser::endTest(text);
    if (error.isNull())
        error = finishing::fetcherEndFailure(ended.exitedNormally, ended.exitCode);
    // A fetcher that showed no percentage at all is believed as before.
    if (error.isEmpty() && text.shownPercent >= 0 && text.shownPercent < WholePercent)
        error = finishing::stoppedEarlyFailure(text.shownPercent);
    // An empty file is no video; noted as whole, it would never be fetched again.
    if (error.isEmpty() && finishing::nameFailure(text.baseName).isEmpty()) {
        const QFileInfo file(fetched());
        if (file.exists() && file.size() == 0)
            error = finishing::emptyFetchFailure();
    }
    return error;
}

// A disk that cannot take more explains a failed fetch better than the
// fetcher's own words do.
QString FetchStep::diskFailure(const QString &error, bool *tooLarge) const
{
    const qint64 limit = disk::fileSizeLimit(staging.descriptor());
    const qint64 size = text.baseName.isEmpty() ? -1 : QFileInfo(fetched()).size();
    if (finishing::saysTooLarge(text.output) || finishing::saysTooLarge(error)
        || (limit > 0 && size >= limit - LimitMargin)) {
        *tooLarge = true;
        return finishing::tooLargeFailure(staging.outputPath(), limit > 0);
    }
    if (const qint64 room = disk::roomLeft(staging.descriptor()); room >= 0 && room < finishing::FullDiskRoom)
        return finishing::fullDiskFailure(error, staging.outputPath(), room);
    return error;
}

QString FetchStep::fetched() const
{
    return staging.filePath(finishing::fetchedName(text.baseName));
}

// A fetcher that failed may have fetched part of the video; it stays in the
// staging folder, where the next download of the address resumes it. An empty
// file holds nothing to resume and goes, so that the folder can go with it.
bool FetchStep::keepPartial()
{
    if (text.baseName.isEmpty() || !finishing::nameFailure(text.baseName).isEmpty())
        return false;
    if (QFileInfo(fetched()).size() > 0)
        return true;
    staging.removeFile(finishing::fetchedName(text.baseName));
    return false;
}

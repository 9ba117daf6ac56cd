#include "download/finishstep.h"

#include "download/disk.h"
#include "download/fetchrecord.h"
#include "download/finishing.h"
#include "download/mp4check.h"
#include "download/placement.h"
#include "download/stagingfolder.h"
#include "download/targetnames.h"
#include "external/externalprograms.h"

#include <QFileInfo>
#include <QObject>

#include <chrono>

FinishStep::FinishStep(StagingFolder &staging, const outputparser::State &text, const QString &folder, bool convert)
    : staging(staging)
    , text(text)
    , folder(folder)
    , convert(convert)
{
}

FinishStep::~FinishStep()
{
    if (placement.valid())
        target = placement.get().target;
    if (converterRun)
        staging.removeFile(finishing::convertedName(text.baseName));
    if (!target.isEmpty())
        TargetNames::release(target);
}

QString FinishStep::begin()
{
    // A fetcher that saved under another name than it said, or named none, may
    // have used the converter's: nothing may be converted, nor removed, in its place.
    if (const QString failure = finishing::nameFailure(text.baseName); !failure.isEmpty())
        return namingKept(failure);
    if (const QString failure = finishing::fetchedFailure(fetched()); !failure.isEmpty())
        return QFileInfo::exists(fetched()) ? failure : namingKept(failure);
    // The converter would fill the disk and leave half a file: better to say
    // so now, while nothing has been written. Half an MP4 that a run cut off
    // left is no room taken, since the conversion replaces it.
    if (convert) {
        staging.removeFile(finishing::convertedName(text.baseName));
        if (const QString failure = finishing::roomFailure(staging.outputPath(), QFileInfo(fetched()).size(),
                                                           disk::roomLeft(staging.descriptor()), fetched());
            !failure.isEmpty())
            return failure;
    }
    target = TargetNames::claim(folder, finishing::diskName(text.baseName));
    return QString();
}

// What the fetcher did write stays, and the message says where.
QString FinishStep::namingKept(const QString &failure) const
{
    const QString kept = staging.keptPart();
    return kept.isEmpty() ? failure : failure + finishing::keptFile(kept);
}

QStringList FinishStep::converterArguments()
{
    const QString output = finishing::convertedName(text.baseName);
    staging.removeFile(output);
    converterRun = true;
    return external::converterArguments(finishing::converterFile(finishing::fetchedName(text.baseName)),
                                        finishing::converterFile(output));
}

QString FinishStep::endConverting(const End &ended)
{
    if (!ended.started)
        return finishing::converterStartFailure(fetched());
    QString failure = outputparser::endTest(text);
    if (!failure.isNull()) {
        failure = finishing::childFailure(failure, fetched());
    } else {
        const QFileInfo file(converted());
        finishing::ConversionResult result{ended.exitedNormally, ended.exitCode, file.exists() ? file.size() : -1,
                                           text.output, QString()};
        if (result.targetSize > 0)
            result.cut = mp4check::fileProblem(converted());
        failure = finishing::conversionFailure(fetched(), converted(), result);
        // An MP4 a little larger than the fetched file may pass FAT32's limit.
        if (!failure.isEmpty() && finishing::saysTooLarge(text.output))
            failure = finishing::tooLargeFailure(staging.outputPath(), disk::fileSizeLimit(staging.descriptor()) > 0)
                      + finishing::keptFile(fetched());
    }
    if (!failure.isEmpty())
        staging.removeFile(finishing::convertedName(text.baseName));
    return failure;
}

// Runs on a worker thread at the window's own priority: the window joins
// this thread when it takes the result, so a lower one would make it wait.
// It gets copies of what it needs, none of the job's own fields.
void FinishStep::startPlacing(QObject *context, const std::function<void()> &placed, const PlacingHook &hook)
{
    const Move move{convert ? converted() : fetched(), fetched(), finishing::diskName(text.baseName), target,
                    {finishing::fetchedName(text.baseName), finishing::convertedName(text.baseName),
                     QLatin1String(FetchRecord::Name)},
                    hook};
    placement = std::async(std::launch::async, [this, context, placed, move] {
        Placed result = place(move);
        // The result is ready only once this returns, which the callback waits for.
        QMetaObject::invokeMethod(
            context,
            [this, placed] {
                if (placement.valid())
                    placement.wait();
                placed();
            },
            Qt::QueuedConnection);
        return result;
    });
}

FinishStep::Placed FinishStep::place(const Move &move) const
{
    Placed placed{QString(), QString(), move.target};
    if (move.hook)
        move.hook(move.target, move.source);
    Placement mover(staging.descriptor(), staging.outputDescriptor(), move.stem);
    placed.error = mover.place(QFileInfo(move.source).fileName(), &placed.target);
    placed.warning = mover.warning();
    if (move.hook && placed.error.isEmpty() && placed.target != move.target)
        move.hook(placed.target, placed.target);
    if (!placed.error.isEmpty())
        placed.error += finishing::keptFile(move.fetched);
    // Removing files can wait for the disk as long as flushing can.
    if (placed.error.isEmpty())
        staging.remove(move.ownNames);
    return placed;
}

bool FinishStep::placing() const
{
    return placement.valid() && placement.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

FinishStep::Result FinishStep::endPlacing()
{
    const Placed placed = placement.get();
    // The placing may have claimed another name, when someone took ours meanwhile.
    TargetNames::release(placed.target);
    target.clear();
    if (!placed.error.isEmpty() && convert)
        staging.removeFile(finishing::convertedName(text.baseName));
    return {placed.error, placed.warning};
}

QString FinishStep::fetched() const
{
    return staging.filePath(finishing::fetchedName(text.baseName));
}

QString FinishStep::converted() const
{
    return staging.filePath(finishing::convertedName(text.baseName));
}

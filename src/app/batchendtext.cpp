#include "app/batchendtext.h"

#include "app/batchqueue.h"

QString batchEndText(const BatchQueue &batch, const QString &inFolder, qsizetype warnings, const QString &reason)
{
    const QString warned = warnings == 0 ? QString()
                           : QStringLiteral(" (%1 %2, katso työkaluvihje)")
                                 .arg(warnings)
                                 .arg(warnings == 1 ? QStringLiteral("varoitus") : QStringLiteral("varoitusta"));
    if (batch.failed() == 0)
        return QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!") + inFolder + warned;
    // Those in the folder already count among the saved, so they are said there.
    QString text = QStringLiteral("Valmis: %1/%2 tallennettu%3, %4 epäonnistui")
                       .arg(batch.done() - batch.failed())
                       .arg(batch.total())
                       .arg(inFolder)
                       .arg(batch.failed());
    if (batch.retried() > 0)
        text += QStringLiteral(" – %1 palautettu kenttään").arg(batch.retried());
    return text + warned + QStringLiteral(". ") + reason;
}

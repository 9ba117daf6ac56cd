#pragma once

#include <QString>

class BatchQueue;

// What the status line says when a batch has ended: all saved, or how many
// were saved, failed and came back to the field, with the commonest reason.
// `inFolder` is the note on videos found in the folder already, `warnings`
// the count of videos saved with a warning.
QString batchEndText(const BatchQueue &batch, const QString &inFolder, qsizetype warnings, const QString &reason);

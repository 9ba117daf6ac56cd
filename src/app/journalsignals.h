#pragma once

#include <QObject>
#include <QString>

// What the batch journal's writing thread tells the window. Emitted on that
// thread: receivers connect queued, so that they run on their own.
class JournalSignals : public QObject
{
    Q_OBJECT

signals:
    // A write failed after the last one that went well, or no journal can be
    // kept; in Finnish, with the full path of the journal or its folder.
    void writeFailed(const QString &warning);
};

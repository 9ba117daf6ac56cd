#pragma once

#include <QObject>
#include <QString>

// What the batch journal's writing thread tells the window. Emitted on that
// thread: receivers connect queued, so that they run on their own.
class JournalSignals : public QObject
{
    Q_OBJECT

signals:
    // A write failed after the last one that went well; in Finnish, with the
    // journal's full path and the system's reason.
    void writeFailed(const QString &warning);
};

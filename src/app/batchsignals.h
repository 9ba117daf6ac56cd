#pragma once

#include <QObject>
#include <QString>

// A batch's start and end, for the window's desktop integration. They live
// here so that the window's own meta-object holds its five slots and nothing
// else: slots are found by their index and signature there.
class BatchSignals : public QObject
{
    Q_OBJECT

signals:
    void started();
    void ended(const QString &statusText);
};

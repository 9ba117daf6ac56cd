#include "app/batchqueue.h"

void BatchQueue::begin(const QString &field)
{
    reset();
    running = true;
    more = true;
    waitingCount = waitingIn(field);
}

BatchQueue::Taken BatchQueue::take(const QString &field)
{
    const qsizetype separator = field.indexOf(u';');
    more = separator >= 0;
    takenAny = true;
    Taken taken;
    taken.address = (more ? field.left(separator) : field).trimmed();
    taken.field = more ? field.mid(separator + 1) : field;
    ++atWork;
    waitingCount = waitingIn(taken.field);
    return taken;
}

void BatchQueue::fieldEdited(const QString &field)
{
    if (running)
        waitingCount = waitingIn(field);
}

void BatchQueue::jobEnded(bool failed)
{
    --atWork;
    ++doneCount;
    if (failed)
        ++failedCount;
}

int BatchQueue::waitingIn(const QString &field) const
{
    if (!more)
        return 0;
    // A field emptied while the batch runs holds nothing more to take; an empty
    // field at the start is one (empty) address, which then fails on its own.
    if (takenAny && field.trimmed().isEmpty())
        return 0;
    return int(field.count(u';')) + 1;
}

#include "app/batchqueue.h"

namespace {

// Every ";" separates one more address, also an empty one.
int pieces(const QString &field)
{
    return int(field.count(u';')) + 1;
}

} // namespace

void BatchQueue::begin(const QString &field)
{
    reset();
    running = true;
    more = true;
    waitingCount = pieces(field);
}

BatchQueue::Taken BatchQueue::take(const QString &field)
{
    const qsizetype separator = field.indexOf(u';');
    more = separator >= 0;
    Taken taken;
    taken.address = (more ? field.left(separator) : field).trimmed();
    taken.field = more ? field.mid(separator + 1) : field;
    ++atWork;
    waitingCount = more ? pieces(taken.field) : 0;
    return taken;
}

void BatchQueue::fieldEdited(const QString &field)
{
    if (!running || !more)
        return;
    // A field emptied while the batch runs holds nothing more to take; an
    // empty piece left by a take, like one at the start, is an address that
    // then fails on its own.
    waitingCount = field.trimmed().isEmpty() ? 0 : pieces(field);
}

void BatchQueue::jobEnded(bool failed)
{
    --atWork;
    ++doneCount;
    if (failed)
        ++failedCount;
}

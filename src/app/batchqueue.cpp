#include "app/batchqueue.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool blank(QStringView piece)
{
    return piece.trimmed().isEmpty();
}

} // namespace

int BatchQueue::addressCount(QStringView field)
{
    int count = 0;
    for (const QStringView piece : field.tokenize(u';'))
        count += blank(piece) ? 0 : 1;
    return count;
}

bool BatchQueue::hasAddresses(const QString &field) const
{
    return !behind.isEmpty() || addressCount(field) > 0;
}

void BatchQueue::begin(const QString &field)
{
    // What a long paste left behind the field is part of the batch.
    QStringList waiting = std::move(behind);
    reset();
    behind = std::move(waiting);
    running = true;
    more = true;
    waitingCount = addressCount(field) + int(behind.size());
}

BatchQueue::Taken BatchQueue::take(const QString &field)
{
    // A field left blank in front of waiting addresses holds none of its own.
    const bool blankField = blank(field) && !behind.isEmpty();
    const QString front = blankField ? behind.takeFirst() : field;
    const qsizetype separator = front.indexOf(u';');
    more = separator >= 0 || !behind.isEmpty();
    Taken taken;
    taken.address = (separator >= 0 ? front.left(separator) : front).trimmed();
    // Only the taken address leaves the field, or all of it when what follows
    // comes from behind; the last address stays.
    taken.dropped = separator >= 0 ? separator + 1 : blankField || more ? field.size() : 0;
    if (separator >= 0)
        taken.field = show(front.mid(separator + 1));
    else if (more)
        taken.field = show(behind.takeFirst());
    else
        taken.field = lastLeft = front;
    // An empty piece is no address: it is passed over, neither started nor counted.
    taken.ticket = nextTicket++;
    if (!taken.address.isEmpty())
        atWork.insert(taken.ticket, taken.address);
    waitingCount = more ? addressCount(taken.field) + int(behind.size()) : 0;
    return taken;
}

// What the field shows of the queue from `front` on: whole addresses up to
// ShownLength, the rest behind it. Only a text longer than that, which the
// batch's start or a paste makes, is split; after that each take moves one
// address or a few from behind into view.
QString BatchQueue::show(QString front)
{
    if (front.size() > ShownLength) {
        const qsizetype lastShown = front.lastIndexOf(u';', ShownLength);
        const qsizetype cut = lastShown >= 0 ? lastShown : front.indexOf(u';');
        if (cut >= 0) {
            QStringList spilled = front.mid(cut + 1).split(u';');
            spilled.removeIf([](const QString &piece) { return blank(piece); });
            spilled.append(behind);
            behind = std::move(spilled);
            front.truncate(cut);
        }
    }
    if (blank(front) && !behind.isEmpty())
        front = behind.takeFirst();
    while (!behind.isEmpty() && front.size() + 1 + behind.constFirst().size() <= ShownLength)
        front += u';' + behind.takeFirst();
    return front;
}

void BatchQueue::fieldEdited(const QString &field)
{
    if (!running || !more)
        return;
    // What waits behind the field stays: only what the field shows can be edited.
    waitingCount = addressCount(field) + int(behind.size());
}

QString BatchQueue::jobEnded(int ticket, bool failed)
{
    const QString address = atWork.take(ticket);
    ++doneCount;
    if (failed) {
        ++failedCount;
        failedAddresses.insert(ticket, address);
    }
    return address;
}

QString BatchQueue::retryField(const QString &field) const
{
    // A list pasted after the last take waits behind the field, for the next batch.
    if (behind.isEmpty())
        return withFailed(field);
    const QString front = withFailed(field);
    return blank(front) ? behind.join(u';') : front + u';' + behind.join(u';');
}

QString BatchQueue::withFailed(const QString &field) const
{
    if (failedAddresses.isEmpty())
        return field;
    QString added = userPieces(field).join(u';').trimmed();
    if (added.startsWith(u';'))
        added = added.mid(1).trimmed();
    QStringList kept = failedAddresses.values();
    if (!added.isEmpty())
        kept << added;
    return kept.join(u';');
}

QStringList BatchQueue::unsaved(const QString &field) const
{
    QMap<int, QString> taken = failedAddresses;
    taken.insert(atWork);
    QStringList list;
    for (const QString &address : std::as_const(taken)) {
        if (!address.isEmpty())
            list << address;
    }
    if (!running)
        return list;
    // Once the last address is taken, the field holds it, at work, and what
    // the user added since for the next press: kept too, as retryField() does.
    for (const QString &piece : userPieces(field) + behind) {
        if (const QString address = piece.trimmed(); !address.isEmpty())
            list << address;
    }
    return list;
}

// The field still holds the last address, which its take left there, unless
// the user changed it; all else in it is the user's. Compared by whole pieces,
// so that an address typed in front of it or the last one lengthened neither
// comes back twice nor loses its start; blanks around it, which a paste put on
// one line trims, do not make it another.
QStringList BatchQueue::userPieces(const QString &field) const
{
    QStringList pieces = field.split(u';');
    if (more)
        return pieces;
    const QString last = lastLeft.trimmed();
    const auto found = std::find_if(pieces.cbegin(), pieces.cend(),
                                    [&last](const QString &piece) { return piece.trimmed() == last; });
    if (found != pieces.cend())
        pieces.erase(found);
    return pieces;
}

QString addressesOnOneLine(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QString joined;
    for (const QString &line : text.split(lineBreak)) {
        const QString piece = line.trimmed();
        if (piece.isEmpty())
            continue;
        if (!joined.isEmpty() && !joined.endsWith(u';') && !piece.startsWith(u';'))
            joined += u';';
        joined += piece;
    }
    return joined;
}

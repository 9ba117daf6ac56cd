#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

// The counting of one batch, apart from the window. Addresses are taken from
// the front of the address field, which stays editable while the batch runs:
// what is added before the queue runs out joins the batch, what is removed
// leaves it. The batch ends when its last job has ended and nothing waits.
//
// A long list does not stay in the field: the field shows the front of the
// queue, and the rest waits here behind it, so that a key press or a take
// lays out a short text however long the list.
class BatchQueue
{
public:
    // How much of the queue the field shows while a batch runs, in characters:
    // whole addresses up to this length, and always at least one.
    static constexpr qsizetype ShownLength = 2000;

    struct Taken
    {
        QString address; // without blanks and line breaks around it
        QString field;   // what the field holds after the take
        // How many characters of the field's front the take removed: the rest
        // of the field's text begins `field`, before what came into view.
        qsizetype dropped = 0;
        int ticket = 0; // for jobEnded()
    };

    // Addresses in a field's text: pieces between ";" that are not blank.
    static int addressCount(QStringView field);
    // Whether a batch begun now would have an address to take.
    bool hasAddresses(const QString &field) const;

    // A new batch over the field's text and what waits behind it.
    void begin(const QString &field);
    bool active() const { return running; }

    // Takes the front address. The last one is read but stays in the field;
    // an address taken counts as a job at work until jobEnded(). An empty
    // piece taken gives an empty address, which counts for nothing.
    Taken take(const QString &field);
    // What the field shows of a text longer than ShownLength, or of a blank
    // one while addresses wait behind it: the rest waits behind, in order.
    QString show(QString front);
    // Whether an address waits in the field or behind it.
    bool waiting() const { return waitingCount > 0; }
    // The addresses waiting behind what the field shows.
    int behindField() const { return int(behind.size()); }

    // The user edited the field while the batch runs.
    void fieldEdited(const QString &field);

    // Returns the job's address.
    QString jobEnded(int ticket, bool failed);
    bool finished() const { return atWork.isEmpty() && waitingCount == 0; }
    void reset() { *this = BatchQueue(); }

    int total() const { return doneCount + int(atWork.size()) + waitingCount; }
    int done() const { return doneCount; }
    int failed() const { return failedCount; }

    // The field's text once the batch has ended, for one press to retry what
    // failed: the failed addresses in the order they were started, then what
    // the user added after the last address was taken, behind the field too.
    // Unchanged when no address failed and nothing waits behind.
    QString retryField(const QString &field) const;
    // How many addresses retryField() puts back.
    int retried() const { return int(failedAddresses.size()); }

    // Every address of the batch not saved yet, in the list's order: those
    // at work or failed, then those waiting in the field and behind it, or
    // added there after the last take.
    QStringList unsaved(const QString &field) const;

private:
    QString withFailed(const QString &field) const;
    // The pieces of the field that the user put there, not the batch.
    QStringList userPieces(const QString &field) const;

    bool running = false;
    bool more = false; // the queue's last address has not been taken yet
    QStringList behind;
    QString lastLeft; // the field as the take of the last address left it
    int waitingCount = 0;
    int nextTicket = 0;
    QMap<int, QString> atWork;
    QMap<int, QString> failedAddresses; // by ticket, so in start order
    int doneCount = 0;
    int failedCount = 0;
};

// Pasted text on one line: every line break separates addresses as ";" does.
// Blank lines, and line breaks at either end, make no address; a break next
// to a ";" adds no empty one.
QString addressesOnOneLine(const QString &text);

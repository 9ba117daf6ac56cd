#pragma once

#include <QString>

// The counting of one batch, apart from the window. Addresses are taken from
// the front of the address field, which stays editable while the batch runs:
// what is added before the queue runs out joins the batch, what is removed
// leaves it. The batch ends when its last job has ended and nothing waits.
class BatchQueue
{
public:
    struct Taken
    {
        QString address; // without blanks and line breaks around it
        QString field;   // what the field holds after the take
    };

    // A new batch over the field's text: every ";" separates one more address.
    void begin(const QString &field);
    bool active() const { return running; }

    // Takes the front address. The last one is read but stays in the field;
    // an address taken counts as a job at work until jobEnded().
    Taken take(const QString &field);
    // Whether an address waits in the field.
    bool waiting() const { return waitingCount > 0; }

    // The user edited the field while the batch runs.
    void fieldEdited(const QString &field);

    void jobEnded(bool failed);
    bool finished() const { return atWork == 0 && waitingCount == 0; }
    void reset() { *this = BatchQueue(); }

    int total() const { return doneCount + atWork + waitingCount; }
    int done() const { return doneCount; }
    int failed() const { return failedCount; }

private:
    bool running = false;
    bool more = false; // the field's last address has not been taken yet
    int waitingCount = 0;
    int atWork = 0;
    int doneCount = 0;
    int failedCount = 0;
};

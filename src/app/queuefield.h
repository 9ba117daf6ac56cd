#pragma once

#include "app/batchqueue.h"

#include <QString>

class QLineEdit;

// The address field as the view of the batch's queue. A long list is folded:
// the field keeps whole addresses up to about BatchQueue::ShownLength
// characters in view, the rest waits in the queue behind them and the tool
// tip counts it. Whatever lands in the field, a search's hand-back too, comes
// after what it shows and before what waits behind.
class QueueField
{
public:
    // The user's place in the field: the cursor, the other end of the
    // selection (the cursor itself without one), and the text's length.
    struct Place
    {
        int anchor = 0;
        int cursor = 0;
        qsizetype size = 0;
    };

    QueueField(QLineEdit *field, BatchQueue &batch);

    // The field's tool tip with `behind` addresses waiting behind it; empty for none.
    static QString behindTip(int behind);
    // Where the user's place lands once a take has removed `dropped`
    // characters from the field's front and the field shows `shown` ones: on
    // the same text, never on what the take brought into view.
    static Place afterTake(const Place &before, qsizetype dropped, qsizetype shown);
    // Whether the field's text is folded into the queue: a long paste, or a
    // field emptied in front of addresses waiting between batches.
    static bool folds(const QString &text, int behind, bool running);

    Place place() const;
    // Shows the front of the queue; the tool tip counts what waits behind.
    void showFront(const QString &front);
    // Shows what a take left, the user's place kept on the same text.
    void showTaken(const Place &before, const QString &front, qsizetype dropped);
    // The field's text changed. Returns whether the change is the user's own
    // to count: not the window's writing, nor a paste put on one line, whose
    // new text comes as a change of its own.
    bool edited();

private:
    QLineEdit *field;
    BatchQueue &batch;
    const QString purpose; // the field's own accessible description
    bool writing = false;
};

#include "app/queuefield.h"

#include <QLineEdit>

#include <limits>

QueueField::QueueField(QLineEdit *field, BatchQueue &batch)
    : field(field)
    , batch(batch)
    , purpose(field->accessibleDescription())
{
    // A pasted list or a search's hand-back is never cut short: the default
    // limit holds about 800 portal addresses.
    field->setMaxLength(std::numeric_limits<int>::max());
}

QString QueueField::behindTip(int behind)
{
    if (behind == 0)
        return QString();
    return QStringLiteral("Kentän osoitteiden jälkeen jonossa vielä %1 %2")
        .arg(behind)
        .arg(behind == 1 ? QStringLiteral("osoite") : QStringLiteral("osoitetta"));
}

QueueField::Place QueueField::afterTake(const Place &before, qsizetype dropped, qsizetype shown)
{
    const qsizetype end = qMin(qMax<qsizetype>(0, before.size - dropped), shown);
    const auto moved = [&](int position) { return int(qBound<qsizetype>(0, position - dropped, end)); };
    return Place{moved(before.anchor), moved(before.cursor), shown};
}

// Only well past what the field shows, so that an address being typed at its
// end does not vanish behind it.
bool QueueField::folds(const QString &text, int behind, bool running)
{
    const bool emptied = text.trimmed().isEmpty() && behind > 0 && !running;
    return text.size() > 4 * BatchQueue::ShownLength || emptied;
}

QueueField::Place QueueField::place() const
{
    const int cursor = field->cursorPosition();
    int anchor = cursor;
    if (field->hasSelectedText())
        anchor = cursor == field->selectionStart() ? field->selectionEnd() : field->selectionStart();
    return Place{anchor, cursor, field->text().size()};
}

void QueueField::showFront(const QString &front)
{
    writing = true;
    if (field->text() != front)
        field->setText(front);
    writing = false;
    // A screen reader is told what the tool tip shows: the form's description
    // hides the tool tip from it.
    const QString tip = behindTip(batch.behindField());
    field->setToolTip(tip);
    field->setAccessibleDescription(tip.isEmpty() ? purpose : purpose + QStringLiteral(" – ") + tip);
}

// The user may be typing in the field while a take rewrites it: what they
// type or delete lands where they were.
void QueueField::showTaken(const Place &before, const QString &front, qsizetype dropped)
{
    showFront(front);
    const Place after = afterTake(before, dropped, field->text().size());
    field->setSelection(after.anchor, after.cursor - after.anchor);
}

// A list pasted one address a line is put on one line first, each line
// break a ";", so that the field shows it readably and takes it whole.
bool QueueField::edited()
{
    if (writing)
        return false;
    const QString text = field->text();
    if (text.contains(u'\n') || text.contains(u'\r')) {
        const qsizetype fromEnd = text.size() - field->cursorPosition();
        field->setText(addressesOnOneLine(text));
        field->setCursorPosition(int(qMax<qsizetype>(0, field->text().size() - fromEnd)));
        return false;
    }
    // A long paste would be laid out whole at every key press: the field keeps
    // its front, the rest waits behind it. Emptied, the field shows what waits.
    if (folds(text, batch.behindField(), batch.active())) {
        const int cursor = field->cursorPosition();
        showFront(batch.show(text));
        field->setCursorPosition(qMin(cursor, int(field->text().size())));
    }
    return true;
}

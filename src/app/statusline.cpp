#include "app/statusline.h"

#include <QLineEdit>

StatusLine::StatusLine(QLineEdit *line)
    : line(line)
    , purpose(line->accessibleDescription())
{
}

// A line edit shows the end of a text set into it; a message's start says what happened.
void StatusLine::show(const QString &text)
{
    line->setText(text);
    line->setCursorPosition(0);
}

void StatusLine::showReasons(const QString &reasons)
{
    line->setToolTip(reasons);
    line->setAccessibleDescription(reasons.isEmpty() ? purpose : reasons);
}

void StatusLine::append(const QString &warning)
{
    show(line->text() + QStringLiteral(" – ") + warning);
    const QString reasons = line->toolTip();
    showReasons(reasons.isEmpty() ? warning : warning + u'\n' + reasons);
}

QString StatusLine::text() const
{
    return line->text();
}

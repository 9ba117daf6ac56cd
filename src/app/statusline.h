#pragma once

#include <QString>

class QLineEdit;

// The window's status line. A text shows its start, which says what happened;
// the reasons behind it stay in the tool tip for the mouse and in the
// description for a screen reader, which without reasons hears what the line
// is for, as the form says.
class StatusLine
{
public:
    explicit StatusLine(QLineEdit *line);

    void show(const QString &text);
    void showReasons(const QString &reasons);
    // Adds a warning to the text shown, and in front of the reasons.
    void append(const QString &warning);
    QString text() const;

private:
    QLineEdit *line;
    QString purpose;
};

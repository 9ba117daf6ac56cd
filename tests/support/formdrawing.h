#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QWidget;

// A widget of a form as drawn: its object name, class and place.
struct Drawn
{
    QString name;
    const char *className;
    QRect geometry;
};

// The main window's widgets in creation order, and the search dialog's.
extern const QList<Drawn> mainWindowWidgets;
extern const QList<Drawn> searchDialogWidgets;

// Fails the test unless the style leaves the widget's text, at the widget's
// size now, the room it needs; line edits must show a whole line, descenders included.
void verifyTextShowsWhole(QWidget *widget);

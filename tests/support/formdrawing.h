#pragma once

#include <QApplication>
#include <QFont>
#include <QList>
#include <QRect>
#include <QScopeGuard>
#include <QString>

class QWidget;

// A widget of a form as drawn: its object name, class and place.
struct Drawn
{
    QString name;
    const char *className;
    QRect geometry;
};

// A form as drawn: its size, and its widgets in creation order.
struct DrawnForm
{
    QSize size;
    QList<Drawn> widgets;
};

extern const DrawnForm mainWindowDrawing;
extern const DrawnForm searchDialogDrawing;

// Fails the test unless the style leaves the widget's text, at the widget's
// size now, the room it needs; line edits must show a whole line, descenders included.
void verifyTextShowsWhole(QWidget *widget);

// Fails the test unless the form, whose widgets are children of `parent`, keeps
// its drawing at the font of now: every widget there, of its class, its text
// whole, and every edge the drawn one times one factor, never below 1; `asDrawn`
// wants that factor to be 1.
void verifyDrawingKept(QWidget *form, QWidget *parent, const DrawnForm &drawing, bool asDrawn = false);

// The application's font at that size (0: as it is) until the returned guard
// goes; declared before the windows, they are gone before the font goes back.
[[nodiscard]] inline auto scopedAppFont(int pointSize)
{
    const QFont normal = QApplication::font();
    QFont font = normal;
    if (pointSize > 0)
        font.setPointSize(pointSize);
    QApplication::setFont(font);
    return qScopeGuard([normal] { QApplication::setFont(normal); });
}

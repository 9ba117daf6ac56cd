#pragma once

#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

// The forms are drawn in pixels for a small font. At a larger one every
// coordinate grows by one factor, just enough for each text to show whole, so
// a form keeps its proportions, and its exact pixels wherever everything fits.
namespace formfit {

// One text of a form: the size its widget was drawn with, and the size that
// widget needs to show its text whole at the font in use.
struct TextRoom
{
    QSize drawn;
    QSize needed;
};

// The smallest factor, never below 1, that brings every drawn size up to its needed size.
double factor(const QList<TextRoom> &texts);
// A rectangle whose edges are the drawn ones times the factor, to the nearest pixel.
QRect scaled(const QRect &rect, double factor);
QSize scaled(const QSize &size, double factor);

// What every widget directly under `form` that shows a text needs, at its
// current size, font and style.
QList<TextRoom> textRooms(const QWidget *form);
// Grows the widgets directly under `form`, and `window` itself, by the factor
// their texts need at the font in use; returns that factor.
double fitToFont(QWidget *window, QWidget *form);

} // namespace formfit

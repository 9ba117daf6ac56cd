#include "forms/formfit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <optional>

namespace formfit {

double factor(const QList<TextRoom> &texts)
{
    double result = 1.0;
    for (const TextRoom &text : texts) {
        if (text.drawn.width() > 0)
            result = std::max(result, double(text.needed.width()) / text.drawn.width());
        if (text.drawn.height() > 0)
            result = std::max(result, double(text.needed.height()) / text.drawn.height());
    }
    return result;
}

// Edges are rounded rather than sizes, so that widgets drawn edge to edge, such
// as the status line on the window's bottom, stay so.
QRect scaled(const QRect &rect, double factor)
{
    const auto edge = [factor](int at) { return int(std::lround(at * factor)); };
    const QPoint topLeft(edge(rect.left()), edge(rect.top()));
    const QPoint end(edge(rect.left() + rect.width()), edge(rect.top() + rect.height()));
    return QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()));
}

QSize scaled(const QSize &size, double factor)
{
    return scaled(QRect(QPoint(), size), factor).size();
}

namespace {

// A widget's text and the part of the widget its style draws that text in.
struct TextPlace
{
    QSize text;
    QSize room;
};

QSize lineSize(const QWidget *widget, const QString &text)
{
    return widget->fontMetrics().size(Qt::TextShowMnemonic, text);
}

TextPlace labelPlace(const QLabel *label)
{
    return {lineSize(label, label->text()), label->contentsRect().size()};
}

TextPlace pushButtonPlace(const QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    if (button->isDefault())
        option.features |= QStyleOptionButton::DefaultButton;
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return {lineSize(button, button->text()), room.size()};
}

TextPlace checkBoxPlace(const QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    return {lineSize(box, box->text()), room.size()};
}

// The style draws a tool button's text inside its frame.
TextPlace toolButtonPlace(const QToolButton *button)
{
    QStyleOptionToolButton option;
    option.initFrom(button);
    const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
    const QRect room = button->rect().adjusted(frame, frame, -frame, -frame);
    return {lineSize(button, button->text()), room.size()};
}

// Every choice must fit, not only the current one; the label leaves a pixel each side.
TextPlace comboBoxPlace(const QComboBox *combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    option.subControls = QStyle::SC_All;
    const QRect room = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, combo);
    QSize widest(0, combo->fontMetrics().height());
    for (int i = 0; i < combo->count(); ++i)
        widest = widest.expandedTo(lineSize(combo, combo->itemText(i)));
    return {widest, room.size() - QSize(2, 0)};
}

// What is typed may scroll sideways, but a line must show whole, descenders too.
TextPlace lineEditPlace(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QRect room = contents.marginsRemoved(edit->textMargins());
    return {QSize(0, edit->fontMetrics().height()), room.size()};
}

TextPlace progressBarPlace(const QProgressBar *bar)
{
    QStyleOptionProgressBar option;
    option.initFrom(bar);
    option.textVisible = bar->isTextVisible();
    const QRect room = bar->style()->subElementRect(QStyle::SE_ProgressBarLabel, &option, bar);
    QString full = bar->format();
    full.replace(QLatin1String("%p"), QString::number(100));
    return {bar->isTextVisible() ? lineSize(bar, full) : QSize(), room.size()};
}

std::optional<TextPlace> textPlace(const QWidget *widget)
{
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return labelPlace(label);
    if (auto *button = qobject_cast<const QPushButton *>(widget))
        return pushButtonPlace(button);
    if (auto *box = qobject_cast<const QCheckBox *>(widget))
        return checkBoxPlace(box);
    if (auto *button = qobject_cast<const QToolButton *>(widget))
        return toolButtonPlace(button);
    if (auto *combo = qobject_cast<const QComboBox *>(widget))
        return comboBoxPlace(combo);
    if (auto *edit = qobject_cast<const QLineEdit *>(widget))
        return lineEditPlace(edit);
    if (auto *bar = qobject_cast<const QProgressBar *>(widget))
        return progressBarPlace(bar);
    // A button box lays out its own buttons, each wanting its whole size.
    if (auto *buttons = qobject_cast<const QDialogButtonBox *>(widget))
        return TextPlace{buttons->sizeHint(), buttons->size()};
    return std::nullopt;
}

} // namespace

QList<TextRoom> textRooms(const QWidget *form)
{
    QList<TextRoom> rooms;
    for (QWidget *widget : form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        widget->ensurePolished();
        const std::optional<TextPlace> place = textPlace(widget);
        if (!place)
            continue;
        // The style's margins around a text stay the same at any size.
        const QSize margins = widget->size() - place->room;
        rooms.append({widget->size(), margins + place->text});
    }
    return rooms;
}

double fitToFont(QWidget *window, QWidget *form)
{
    double grow = factor(textRooms(form));
    // A hair above the exact ratio, so that its rounding error cannot cost a text its last pixel.
    if (grow > 1.0)
        grow *= 1.0 + 1e-9;
    for (QWidget *widget : form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        widget->setGeometry(scaled(widget->geometry(), grow));
    window->resize(scaled(window->size(), grow));
    return grow;
}

} // namespace formfit

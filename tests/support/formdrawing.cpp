#include "formdrawing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QToolButton>

const DrawnForm mainWindowDrawing = {
    QSize(382, 241),
    {{"url", "QLineEdit", QRect(10, 20, 331, 20)},           {"pushButton", "QPushButton", QRect(10, 150, 141, 51)},
     {"progressBar", "QProgressBar", QRect(10, 90, 361, 23)}, {"label", "QLabel", QRect(10, 0, 351, 16)},
     {"toolButton", "QToolButton", QRect(340, 60, 25, 20)},  {"outputfile", "QLineEdit", QRect(10, 60, 331, 20)},
     {"label_2", "QLabel", QRect(10, 40, 141, 16)},          {"statusbar", "QLineEdit", QRect(0, 220, 381, 21)},
     {"checkBox", "QCheckBox", QRect(10, 120, 271, 18)},     {"searchword", "QLineEdit", QRect(280, 170, 91, 20)},
     {"label_3", "QLabel", QRect(280, 150, 31, 16)},         {"pushButton_2", "QPushButton", QRect(300, 190, 75, 23)},
     {"threadcount", "QComboBox", QRect(230, 170, 41, 22)},  {"label_4", "QLabel", QRect(160, 150, 111, 16)}}};
const DrawnForm searchDialogDrawing = {QSize(541, 405),
                                       {{"buttonBox", "QDialogButtonBox", QRect(190, 370, 341, 32)},
                                        {"list", "QListWidget", QRect(20, 30, 501, 331)},
                                        {"label", "QLabel", QRect(20, 10, 381, 16)}}};

namespace {

// The room the style leaves a widget's text at the widget's size now, and the
// room the text needs.
std::pair<QSize, QSize> textRoom(QWidget *widget)
{
    const QFontMetrics metrics = widget->fontMetrics();
    const auto text = [&](const QString &line) { return metrics.size(Qt::TextShowMnemonic, line); };
    QStyle *style = widget->style();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return {label->size(), label->sizeHint()};
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.features = button->autoDefault() ? QStyleOptionButton::AutoDefaultButton : QStyleOptionButton::None;
        return {style->subElementRect(QStyle::SE_PushButtonContents, &option, button).size(), text(button->text())};
    }
    if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        return {style->subElementRect(QStyle::SE_CheckBoxContents, &option, box).size(), text(box->text())};
    }
    if (auto *button = qobject_cast<QToolButton *>(widget)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        return {button->size() - QSize(2 * frame, 2 * frame), text(button->text())};
    }
    if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        QSize needed;
        for (int i = 0; i < combo->count(); ++i)
            needed = needed.expandedTo(text(combo->itemText(i)));
        const auto field = QStyle::SC_ComboBoxEditField;
        return {style->subControlRect(QStyle::CC_ComboBox, &option, field, combo).size(), needed};
    }
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        return {style->subElementRect(QStyle::SE_LineEditContents, &option, edit).size(), QSize(0, metrics.height())};
    }
    if (qobject_cast<QProgressBar *>(widget))
        return {widget->size(), text(QStringLiteral("100%"))};
    return {widget->size(), qobject_cast<QDialogButtonBox *>(widget) ? widget->sizeHint() : QSize()};
}

} // namespace

void verifyTextShowsWhole(QWidget *widget)
{
    const auto [room, needed] = textRoom(widget);
    QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
             qPrintable(QStringLiteral("%1 needs %2 x %3, has %4 x %5").arg(widget->objectName())
                            .arg(needed.width()).arg(needed.height()).arg(room.width()).arg(room.height())));
}


void verifyDrawingKept(QWidget *form, QWidget *parent, const DrawnForm &drawing, bool asDrawn)
{
    // Each drawn edge d shown at v allows the factors that round d up or down to v.
    double lowest = 1.0;
    double highest = 1e9;
    const auto allow = [&](int drawn, int shown) {
        if (drawn == 0) {
            highest = shown == 0 ? highest : 0.0;
            return;
        }
        lowest = std::max(lowest, (shown - 0.5) / drawn);
        highest = std::min(highest, (shown + 0.5) / drawn);
    };
    allow(drawing.size.width(), form->width());
    allow(drawing.size.height(), form->height());
    for (const Drawn &drawn : drawing.widgets) {
        QWidget *widget = parent->findChild<QWidget *>(drawn.name, Qt::FindDirectChildrenOnly);
        QVERIFY2(widget, qPrintable(drawn.name));
        QCOMPARE(widget->metaObject()->className(), drawn.className);
        if (asDrawn)
            QCOMPARE(widget->geometry(), drawn.geometry);
        const QRect shown = widget->geometry();
        allow(drawn.geometry.x(), shown.x());
        allow(drawn.geometry.y(), shown.y());
        allow(drawn.geometry.right() + 1, shown.right() + 1);
        allow(drawn.geometry.bottom() + 1, shown.bottom() + 1);
        verifyTextShowsWhole(widget);
    }
    QVERIFY2(lowest <= highest, qPrintable(QStringLiteral("no one factor: %1 > %2").arg(lowest).arg(highest)));
    qInfo("%s at %d pt: factor %.3f", form->metaObject()->className(), form->font().pointSize(), lowest);
    if (asDrawn)
        QCOMPARE(form->size(), drawing.size);
}


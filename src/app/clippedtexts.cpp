#include "app/clippedtexts.h"

#include <QCheckBox>
#include <QLabel>

namespace {

template<typename Widget>
void tipIfClipped(Widget *widget)
{
    widget->ensurePolished();
    if (widget->sizeHint().width() > widget->width())
        widget->setToolTip(widget->text());
}

} // namespace

void showClippedTextsInToolTips(QWidget *form)
{
    for (QLabel *label : form->findChildren<QLabel *>())
        tipIfClipped(label);
    for (QCheckBox *box : form->findChildren<QCheckBox *>())
        tipIfClipped(box);
}

#include "app/accessiblecombobox.h"

#include <QAbstractItemView>
#include <QComboBox>

namespace {

QAccessibleInterface *namedComboBoxes(const QString &className, QObject *object)
{
    auto *combo = qobject_cast<QComboBox *>(object);
    if (className != QLatin1String("QComboBox") || !combo || combo->isEditable()
        || combo->accessibleName().isEmpty())
        return nullptr;
    return new AccessibleComboBox(combo);
}

} // namespace

AccessibleComboBox::AccessibleComboBox(QComboBox *combo)
    : QAccessibleWidget(combo, QAccessible::ComboBox)
{
}

void AccessibleComboBox::install()
{
    // Factories installed later are asked first, ahead of Qt's own.
    static const bool installed = (QAccessible::installFactory(namedComboBoxes), true);
    Q_UNUSED(installed);
}

QComboBox *AccessibleComboBox::comboBox() const
{
    return static_cast<QComboBox *>(object());
}

QString AccessibleComboBox::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return comboBox()->currentText();
    return QAccessibleWidget::text(t);
}

// The list of choices, as Qt's own combo box offers it.
int AccessibleComboBox::childCount() const
{
    return 1;
}

QAccessibleInterface *AccessibleComboBox::child(int index) const
{
    return index == 0 ? QAccessible::queryAccessibleInterface(comboBox()->view()) : nullptr;
}

int AccessibleComboBox::indexOfChild(const QAccessibleInterface *child) const
{
    return child && child->object() == comboBox()->view() ? 0 : -1;
}

QStringList AccessibleComboBox::actionNames() const
{
    return {showMenuAction(), pressAction()};
}

void AccessibleComboBox::doAction(const QString &actionName)
{
    if (actionName != showMenuAction() && actionName != pressAction())
        return;
    if (comboBox()->view()->isVisible())
        comboBox()->hidePopup();
    else
        comboBox()->showPopup();
}

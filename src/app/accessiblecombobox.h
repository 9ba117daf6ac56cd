#pragma once

#include <QAccessibleWidget>
#include <QStringList>

class QComboBox;

// On Linux Qt names a combo box after its current choice, so a screen reader
// announces the number of downloads as "1". A combo box that has an accessible
// name of its own is named by it here, and its choice is its value.
class AccessibleComboBox : public QAccessibleWidget
{
public:
    explicit AccessibleComboBox(QComboBox *combo);

    // Makes every later look-up of a named, non-editable combo box use this class.
    static void install();

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

private:
    QComboBox *comboBox() const;
};

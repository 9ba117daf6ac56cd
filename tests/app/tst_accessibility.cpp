#include "bothforms.h"

#include <QtTest>
#include <QtWidgets>

namespace {

struct Control
{
    const char *row;
    bool inDialog;
    const char *name;
    QAccessible::Role role;
    const char *label; // the text that names it beside it, if any
    bool spokenAsShown; // its name is said for its visible text
};

const Control controls[] = {
    {"address field", false, "url", QAccessible::EditableText, "label", false},
    {"start button", false, "pushButton", QAccessible::Button, nullptr, true},
    {"progress bar", false, "progressBar", QAccessible::ProgressBar, nullptr, false},
    {"folder button", false, "toolButton", QAccessible::Button, nullptr, false},
    {"folder field", false, "outputfile", QAccessible::EditableText, "label_2", false},
    {"status line", false, "statusbar", QAccessible::EditableText, nullptr, false},
    {"repair option", false, "checkBox", QAccessible::CheckBox, nullptr, true},
    {"search word", false, "searchword", QAccessible::EditableText, "label_3", false},
    {"search button", false, "pushButton_2", QAccessible::Button, nullptr, true},
    {"thread count", false, "threadcount", QAccessible::ComboBox, "label_4", false},
    {"results", true, "list", QAccessible::List, "label", false},
    {"buttons", true, "buttonBox", QAccessible::Grouping, nullptr, false}};

// One row for each control that `which` picks.
void controlRows(bool (*which)(const Control &))
{
    QTest::addColumn<bool>("inDialog");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("label");
    for (const Control &control : controls) {
        if (which(control))
            QTest::newRow(control.row) << control.inDialog << control.name << control.role << control.label;
    }
}

} // namespace

// What a screen reader is told about the widgets of both windows, and that it
// reads the batch's progress from the bar.
class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void widgets_data() { controlRows([](const Control &) { return true; }); }

    // Every control must carry a Finnish name and a separate description, so a
    // screen reader says what it is and what it is for.
    void widgets()
    {
        QFETCH(bool, inDialog);
        QFETCH(QString, name);
        BothForms forms;
        QWidget *widget = forms.widget(inDialog, name);
        QVERIFY2(widget, qPrintable(name));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(iface && iface->isValid());
        QCOMPARE(iface->object(), widget);
        QTEST(iface->role(), "role");

        const QString spokenName = iface->text(QAccessible::Name);
        const QString description = iface->text(QAccessible::Description);
        QVERIFY2(!spokenName.trimmed().isEmpty(), "no accessible name");
        // Not the current value, as Qt on Linux names a combo box by default.
        QCOMPARE(spokenName, widget->accessibleName());
        QVERIFY2(description.trimmed().size() > spokenName.size(), "no description beyond the name");
        QVERIFY(spokenName != name);
        // Letters ä and ö must survive the form's UTF-8 as themselves.
        for (const QString &text : {spokenName, description})
            QVERIFY2(!text.contains(QChar(0x00c3)) && !text.contains(QChar::ReplacementCharacter), qPrintable(text));
    }

    void fieldsNamedByTheirLabels_data() { controlRows([](const Control &c) { return c.label != nullptr; }); }

    // The text beside a field is announced with it only when the two are tied.
    void fieldsNamedByTheirLabels()
    {
        QFETCH(bool, inDialog);
        QFETCH(QString, name);
        QFETCH(QString, label);
        BothForms forms;
        QAccessibleInterface *labelIface = QAccessible::queryAccessibleInterface(forms.widget(inDialog, label));
        QVERIFY(labelIface);
        QObject *field = forms.widget(inDialog, name);
        QVERIFY(field);
        bool labels = false;
        for (const auto &relation : labelIface->relations(QAccessible::Labelled))
            labels = labels || relation.first->object() == field;
        QVERIFY2(labels, qPrintable(label + " does not label " + name));
    }

    void buttonNamesMatchVisibleText_data() { controlRows([](const Control &c) { return c.spokenAsShown; }); }

    // Someone who sees "Tallenna" and says it to speech control must hit the button:
    // the spoken name begins the visible text.
    void buttonNamesMatchVisibleText()
    {
        QFETCH(QString, name);
        BothForms forms;
        QWidget *widget = forms.widget(false, name);
        QVERIFY(widget);
        const QString visible = widget->property("text").toString();
        const QString spoken = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        QVERIFY2(visible.startsWith(spoken, Qt::CaseInsensitive), qPrintable(spoken + " / " + visible));
    }

    void mainWindowNamesAreDistinct()
    {
        MainWindow window;
        QSet<QString> names;
        for (QWidget *widget : window.centralWidget()->findChildren<QWidget *>()) {
            if (widget->accessibleName().isEmpty())
                continue;
            QVERIFY2(!names.contains(widget->accessibleName()), qPrintable(widget->accessibleName()));
            names.insert(widget->accessibleName());
        }
        QCOMPARE(names.size(), 10);
    }

    // The combo box's choice is its value, and its list of choices is reachable.
    void threadCountValueIsTheChoice()
    {
        MainWindow window;
        auto *threads = window.findChild<QComboBox *>(QStringLiteral("threadcount"));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(threads);
        QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("1"));
        threads->setCurrentIndex(2);
        QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("3"));
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Yht\u00e4aikaiset lataukset"));
        QCOMPARE(iface->childCount(), 1);
        QCOMPARE(iface->child(0)->object(), threads->view());
        QCOMPARE(iface->indexOfChild(iface->child(0)), 0);
        QVERIFY(iface->actionInterface());
        iface->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QVERIFY(threads->view()->isVisible());
        iface->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QVERIFY(!threads->view()->isVisible());
    }

    void progressBarValueFollowsBatch_data()
    {
        QTest::addColumn<QList<int>>("values");
        QTest::newRow("one batch") << QList<int>{0, 12, 50, 99, 100};
        QTest::newRow("next batch starts over") << QList<int>{100, 0, 3};
    }

    void progressBarValueFollowsBatch()
    {
        QFETCH(QList<int>, values);
        MainWindow window;
        auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(bar);
        QAccessibleValueInterface *value = iface->valueInterface();
        QVERIFY(value);
        QCOMPARE(value->minimumValue().toInt(), 0);
        QCOMPARE(value->maximumValue().toInt(), 100);
        for (int percent : values) {
            bar->setValue(percent);
            QCOMPARE(value->currentValue().toInt(), percent);
            QVERIFY2(iface->text(QAccessible::Value).contains(QString::number(percent)),
                     qPrintable(iface->text(QAccessible::Value)));
        }
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

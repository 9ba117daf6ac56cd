#include "app/mainwindow.h"
#include "search/searchwindow.h"

#include <QAccessible>
#include <QAbstractItemView>
#include <QAccessibleValueInterface>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSet>
#include <QTest>

// What a screen reader is told about the widgets of both windows, and that it
// reads the batch's progress from the bar.
class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void widgets_data();
    void widgets();
    void fieldsNamedByTheirLabels_data();
    void fieldsNamedByTheirLabels();
    void buttonNamesMatchVisibleText_data();
    void buttonNamesMatchVisibleText();
    void mainWindowNamesAreDistinct();
    void threadCountValueIsTheChoice();
    void progressBarValueFollowsBatch_data();
    void progressBarValueFollowsBatch();
};

void TestAccessibility::widgets_data()
{
    QTest::addColumn<bool>("inSearchDialog");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");

    QTest::newRow("address field") << false << "url" << QAccessible::EditableText;
    QTest::newRow("start button") << false << "pushButton" << QAccessible::Button;
    QTest::newRow("progress bar") << false << "progressBar" << QAccessible::ProgressBar;
    QTest::newRow("folder button") << false << "toolButton" << QAccessible::Button;
    QTest::newRow("folder field") << false << "outputfile" << QAccessible::EditableText;
    QTest::newRow("status line") << false << "statusbar" << QAccessible::EditableText;
    QTest::newRow("repair option") << false << "checkBox" << QAccessible::CheckBox;
    QTest::newRow("search word") << false << "searchword" << QAccessible::EditableText;
    QTest::newRow("search button") << false << "pushButton_2" << QAccessible::Button;
    QTest::newRow("thread count") << false << "threadcount" << QAccessible::ComboBox;
    QTest::newRow("results") << true << "list" << QAccessible::List;
    QTest::newRow("buttons") << true << "buttonBox" << QAccessible::Grouping;
}

// Every control must carry a Finnish name and a separate description, so a
// screen reader says what it is and what it is for.
void TestAccessibility::widgets()
{
    QFETCH(bool, inSearchDialog);
    QFETCH(QString, name);
    QFETCH(QAccessible::Role, role);

    MainWindow window;
    QLineEdit addresses;
    searchWindow dialog(nullptr, QStringLiteral("sana"), &addresses);
    QWidget *widget = (inSearchDialog ? static_cast<QWidget *>(&dialog) : &window)->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface && iface->isValid());
    QCOMPARE(iface->object(), widget);
    QCOMPARE(iface->role(), role);

    const QString spokenName = iface->text(QAccessible::Name);
    const QString description = iface->text(QAccessible::Description);
    QVERIFY2(!spokenName.trimmed().isEmpty(), "no accessible name");
    // Not the current value, as Qt on Linux names a combo box by default.
    QCOMPARE(spokenName, widget->accessibleName());
    QVERIFY2(description.trimmed().size() > spokenName.size(), "no description beyond the name");
    QVERIFY(spokenName != name);
    // Letters ä and ö must survive the form's UTF-8 as themselves.
    for (const QString &text : {spokenName, description}) {
        QVERIFY2(!text.contains(QChar(0x00c3)) && !text.contains(QChar::ReplacementCharacter),
                 qPrintable(text));
    }
}

void TestAccessibility::fieldsNamedByTheirLabels_data()
{
    QTest::addColumn<bool>("inSearchDialog");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");

    QTest::newRow("address field") << false << "url" << "label";
    QTest::newRow("folder field") << false << "outputfile" << "label_2";
    QTest::newRow("search word") << false << "searchword" << "label_3";
    QTest::newRow("thread count") << false << "threadcount" << "label_4";
    QTest::newRow("results") << true << "list" << "label";
}

// The text beside a field is announced with it only when the two are tied.
void TestAccessibility::fieldsNamedByTheirLabels()
{
    QFETCH(bool, inSearchDialog);
    QFETCH(QString, field);
    QFETCH(QString, label);

    MainWindow window;
    QLineEdit addresses;
    searchWindow dialog(nullptr, QString(), &addresses);
    QWidget *root = inSearchDialog ? static_cast<QWidget *>(&dialog) : &window;

    QAccessibleInterface *labelIface = QAccessible::queryAccessibleInterface(
        root->findChild<QWidget *>(label));
    QVERIFY(labelIface);
    QObject *fieldWidget = root->findChild<QWidget *>(field);
    QVERIFY(fieldWidget);
    bool labels = false;
    const auto relations = labelIface->relations(QAccessible::Labelled);
    for (const auto &relation : relations)
        labels = labels || relation.first->object() == fieldWidget;
    QVERIFY2(labels, qPrintable(label + " does not label " + field));
}

void TestAccessibility::buttonNamesMatchVisibleText_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("start") << "pushButton";
    QTest::newRow("search") << "pushButton_2";
    QTest::newRow("repair option") << "checkBox";
}

// Someone who sees "Tallenna" and says it to speech control must hit the button:
// the spoken name begins the visible text.
void TestAccessibility::buttonNamesMatchVisibleText()
{
    QFETCH(QString, button);

    MainWindow window;
    QWidget *widget = window.findChild<QWidget *>(button);
    QVERIFY(widget);
    const QString visible = widget->property("text").toString();
    const QString spoken = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    QVERIFY2(visible.startsWith(spoken, Qt::CaseInsensitive),
             qPrintable(spoken + " / " + visible));
}

void TestAccessibility::mainWindowNamesAreDistinct()
{
    MainWindow window;
    QSet<QString> names;
    const auto widgets = window.centralWidget()->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (widget->accessibleName().isEmpty())
            continue;
        QVERIFY2(!names.contains(widget->accessibleName()), qPrintable(widget->accessibleName()));
        names.insert(widget->accessibleName());
    }
    QCOMPARE(names.size(), 10);
}

// The combo box's choice is its value, and its list of choices is reachable.
void TestAccessibility::threadCountValueIsTheChoice()
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

void TestAccessibility::progressBarValueFollowsBatch_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::newRow("one batch") << QList<int>{0, 12, 50, 99, 100};
    QTest::newRow("next batch starts over") << QList<int>{100, 0, 3};
}

void TestAccessibility::progressBarValueFollowsBatch()
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

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

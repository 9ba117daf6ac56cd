#include "app/mainwindow.h"
#include "external/externalprograms.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree_data();
    void widgetTree();
    void texts_data();
    void texts();
    void windowProperties();
    void widgetProperties();
    void objectName();
    void ownSlotsOnly();
    void tabOrder();
    void initialState();
    void folderChooserIsReused();
    void folderChooserFillsField();
    void folderChooserCancelKeepsField();
    void clippedTextsInToolTips_data();
    void clippedTextsInToolTips();

private:
    template<typename T>
    static T *child(MainWindow &window, const char *name)
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    static QFileDialog *chooser(MainWindow &window)
    {
        return window.findChild<QFileDialog *>();
    }
};

void TestMainWindow::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("url") << "url" << "QLineEdit" << QRect(10, 20, 331, 20);
    QTest::newRow("pushButton") << "pushButton" << "QPushButton" << QRect(10, 150, 141, 51);
    QTest::newRow("progressBar") << "progressBar" << "QProgressBar" << QRect(10, 90, 361, 23);
    QTest::newRow("label") << "label" << "QLabel" << QRect(10, 0, 351, 16);
    QTest::newRow("toolButton") << "toolButton" << "QToolButton" << QRect(340, 60, 25, 20);
    QTest::newRow("outputfile") << "outputfile" << "QLineEdit" << QRect(10, 60, 331, 20);
    QTest::newRow("label_2") << "label_2" << "QLabel" << QRect(10, 40, 141, 16);
    QTest::newRow("statusbar") << "statusbar" << "QLineEdit" << QRect(0, 220, 381, 21);
    QTest::newRow("checkBox") << "checkBox" << "QCheckBox" << QRect(10, 120, 271, 18);
    QTest::newRow("searchword") << "searchword" << "QLineEdit" << QRect(280, 170, 91, 20);
    QTest::newRow("label_3") << "label_3" << "QLabel" << QRect(280, 150, 31, 16);
    QTest::newRow("pushButton_2") << "pushButton_2" << "QPushButton" << QRect(300, 190, 75, 23);
    QTest::newRow("threadcount") << "threadcount" << "QComboBox" << QRect(230, 170, 41, 22);
    QTest::newRow("label_4") << "label_4" << "QLabel" << QRect(160, 150, 111, 16);
}

void TestMainWindow::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);

    MainWindow window;
    QWidget *central = window.centralWidget();
    QVERIFY(central);
    QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
    QWidget *widget = central->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);

    // Resizing moves nothing: there is no layout.
    window.resize(900, 700);
    QCOMPARE(widget->geometry(), geometry);
}

void TestMainWindow::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("pushButton") << "pushButton" << QStringLiteral("Tallenna");
    QTest::newRow("label") << "label"
                           << "URL (" + external::portalUrl()
                                  + "/video/xx       ; erotettuna voi laittaa monta)";
    QTest::newRow("toolButton") << "toolButton" << QStringLiteral("...");
    QTest::newRow("label_2") << "label_2" << QStringLiteral("Tallenna kansioon");
    QTest::newRow("checkBox") << "checkBox"
                              << QStringLiteral("Korjaa mp4 paketti jotta toimii muillakin kuin VLC:ll\u00e4");
    QTest::newRow("label_3") << "label_3" << QStringLiteral("Etsi");
    QTest::newRow("pushButton_2") << "pushButton_2" << QStringLiteral("Aloita haku");
    QTest::newRow("label_4") << "label_4" << QStringLiteral("Yht\u00e4aikaiset lataukset");
}

void TestMainWindow::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    MainWindow window;
    QObject *widget = window.findChild<QObject *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->property("text").toString(), text);
}

void TestMainWindow::windowProperties()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("ZVB lumora downloader v0.1.3"));
    QCOMPARE(window.windowModality(), Qt::NonModal);
    QCOMPARE(window.size(), QSize(382, 241));
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.centralWidget()->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.minimumSize(), QSize(0, 0));
    QCOMPARE(window.maximumSize(), QSize(9999, 9999));
    QCOMPARE(window.contextMenuPolicy(), Qt::NoContextMenu);
    window.resize(20000, 20000);
    QCOMPARE(window.size(), QSize(9999, 9999));
}

void TestMainWindow::widgetProperties()
{
    MainWindow window;
    auto *start = child<QPushButton>(window, "pushButton");
    QCOMPARE(start->font().pointSize(), 12);
    QVERIFY(start->font().bold());
    QVERIFY(start->autoDefault());
    QVERIFY(start->isDefault());

    auto *status = child<QLineEdit>(window, "statusbar");
    QVERIFY(status->isReadOnly());
    QVERIFY(!status->acceptDrops());
    QVERIFY(status->focusPolicy() != Qt::NoFocus);
    QTest::keyClicks(status, QStringLiteral("abc"));
    QCOMPARE(status->text(), QStringLiteral("Valmiina lataamaan!"));

    QCOMPARE(child<QCheckBox>(window, "checkBox")->checkState(), Qt::Checked);
}

// The window's own meta-object holds its five slots in their order and
// nothing else: connections by signature and by index rely on it.
void TestMainWindow::ownSlotsOnly()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    const QList<QByteArray> expected = {"DialogOpen()", "StartProcessing()", "fileSelected(QString)",
                                        "startSearch()",
                                        "valueChanged(int,int,int,int,QString)"};
    QList<QByteArray> own;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        QCOMPARE(meta.method(i).methodType(), QMetaMethod::Slot);
        QCOMPARE(meta.method(i).access(), QMetaMethod::Public);
        own << meta.method(i).methodSignature();
    }
    QCOMPARE(own, expected);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
}

void TestMainWindow::objectName()
{
    MainWindow unnamed;
    QCOMPARE(unnamed.objectName(), QStringLiteral("MainWindow"));

    // The form on a window that already has a name; a plain QMainWindow lacks
    // the three slots the buttons reach, which the form reports.
    QMainWindow named;
    named.setObjectName(QStringLiteral("OmaIkkuna"));
    Ui::MainWindow form;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such slot")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such slot")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such slot")));
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("OmaIkkuna"));
    QCOMPARE(form.url->parent(), form.centralWidget);
}

void TestMainWindow::tabOrder()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList expected = {"url", "pushButton", "toolButton", "outputfile", "statusbar",
                                  "checkBox", "searchword", "pushButton_2", "threadcount"};
    QWidget *widget = child<QWidget>(window, "url");
    QStringList chain;
    for (int step = 0; step < expected.size(); ++step) {
        chain << widget->objectName();
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || widget == window.centralWidget()
               || !window.centralWidget()->isAncestorOf(widget))
            widget = widget->nextInFocusChain();
    }
    QCOMPARE(chain, expected);
}

void TestMainWindow::initialState()
{
    MainWindow window;
    QCOMPARE(child<QLineEdit>(window, "statusbar")->text(), QStringLiteral("Valmiina lataamaan!"));
    auto *bar = child<QProgressBar>(window, "progressBar");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    auto *threads = child<QComboBox>(window, "threadcount");
    QCOMPARE(threads->count(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(threads->itemText(i), QString::number(i + 1));
    QCOMPARE(threads->currentText(), QStringLiteral("1"));
    QVERIFY(child<QPushButton>(window, "pushButton")->isEnabled());
    QVERIFY(child<QLineEdit>(window, "outputfile")->isEnabled());
    QVERIFY(child<QLineEdit>(window, "url")->text().isEmpty());
}

void TestMainWindow::folderChooserIsReused()
{
    MainWindow window;
    QVERIFY(!chooser(window));
    QTest::mouseClick(child<QToolButton>(window, "toolButton"), Qt::LeftButton);
    QFileDialog *first = chooser(window);
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QCOMPARE(first->fileMode(), QFileDialog::Directory);
    QCOMPARE(first->windowTitle(), QStringLiteral("Tallenna kansioon.."));
    QVERIFY(!first->isModal());
    QVERIFY(!first->testOption(QFileDialog::DontConfirmOverwrite));

    QTest::mouseClick(child<QToolButton>(window, "toolButton"), Qt::LeftButton);
    QCOMPARE(window.findChildren<QFileDialog *>().size(), 1);
    QCOMPARE(chooser(window), first);
}

void TestMainWindow::folderChooserFillsField()
{
    MainWindow window;
    QTemporaryDir folder;
    QTest::mouseClick(child<QToolButton>(window, "toolButton"), Qt::LeftButton);
    QFileDialog *dialog = chooser(window);
    // The chosen path arrives unchanged: no separator added, nothing checked.
    const QString chosen = folder.path() + QStringLiteral("/Elokuvat ja sarjat äö");
    emit dialog->fileSelected(chosen);
    QCOMPARE(child<QLineEdit>(window, "outputfile")->text(), chosen);

    child<QLineEdit>(window, "outputfile")->setEnabled(false);
    emit dialog->fileSelected(folder.path());
    QCOMPARE(child<QLineEdit>(window, "outputfile")->text(), folder.path());
}

void TestMainWindow::folderChooserCancelKeepsField()
{
    MainWindow window;
    child<QLineEdit>(window, "outputfile")->setText(QStringLiteral("/tmp/ennen"));
    QTest::mouseClick(child<QToolButton>(window, "toolButton"), Qt::LeftButton);
    QFileDialog *dialog = chooser(window);
    dialog->reject();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(child<QLineEdit>(window, "outputfile")->text(), QStringLiteral("/tmp/ennen"));
}

void TestMainWindow::clippedTextsInToolTips_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<QStringList>("tipped");

    QTest::newRow("tiny font, all fit") << 3 << QStringList();
    QTest::newRow("large font, none fits")
        << 30 << QStringList{"label", "label_2", "checkBox", "label_3", "label_4"};
}

// The geometry is fixed, so the font in use decides which texts are cut.
void TestMainWindow::clippedTextsInToolTips()
{
    QFETCH(int, pointSize);
    QFETCH(QStringList, tipped);

    const QFont normal = QApplication::font();
    QFont font = normal;
    font.setPointSize(pointSize);
    QApplication::setFont(font);
    MainWindow window;
    QApplication::setFont(normal);

    QStringList withTip;
    for (QWidget *widget : window.centralWidget()->findChildren<QWidget *>()) {
        const QString tip = widget->toolTip();
        if (tip.isEmpty())
            continue;
        withTip << widget->objectName();
        QCOMPARE(tip, widget->property("text").toString());
    }
    QCOMPARE(withTip, tipped);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

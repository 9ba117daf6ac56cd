#include "bothforms.h"
#include "external/externalprograms.h"
#include "formdrawing.h"
#include "forms/formfit.h"
#include "ui_mainwindow.h"

#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(formfit::TextRoom)

namespace {

// Presses the folder button; the folder chooser it shows.
QFileDialog *openChooser(MainWindow &window)
{
    QTest::mouseClick(window.findChild<QToolButton *>(u"toolButton"_qs), Qt::LeftButton);
    return window.findChild<QFileDialog *>();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // The form grows with larger fonts; the drawn pixels are checked at a font
    // small enough for every text as drawn.
    void initTestCase() { QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 5)); }

    void widgetTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QRect>("geometry");
        for (const Drawn &widget : mainWindowDrawing.widgets)
            QTest::newRow(qPrintable(widget.name)) << widget.name << widget.className << widget.geometry;
    }

    void widgetTree()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        MainWindow window;
        QWidget *central = window.centralWidget();
        QVERIFY(central);
        QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
        QWidget *widget = central->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
        QVERIFY2(widget, qPrintable(name));
        QTEST(QString::fromLatin1(widget->metaObject()->className()), "className");
        QCOMPARE(widget->geometry(), geometry);

        // Resizing moves nothing: there is no layout.
        window.resize(900, 700);
        QCOMPARE(widget->geometry(), geometry);
    }

    // The window's texts and settings as the user meets them; "" is the window.
    void properties_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("portal"); // chosen at start, or none

        QTest::newRow("label text, portal given") << "label" << QByteArray("text")
            << QVariant(u"URL (http://10.1.2.3:8080/video/xx       ; erotettuna voi laittaa monta)"_qs)
            << "http://10.1.2.3:8080";
        const QList<std::tuple<const char *, const char *, QVariant>> rows = {
            {"label", "text", "URL (" + external::portalUrl() + "/video/xx       ; erotettuna voi laittaa monta)"},
            {"checkBox", "text", u"Korjaa mp4 paketti jotta toimii muillakin kuin VLC:llä"_qs},
            {"pushButton", "text", u"Tallenna"_qs},         {"toolButton", "text", u"..."_qs},
            {"label_2", "text", u"Tallenna kansioon"_qs},   {"label_3", "text", u"Etsi"_qs},
            {"pushButton_2", "text", u"Aloita haku"_qs},    {"label_4", "text", u"Yhtäaikaiset lataukset"_qs},
            {"", "windowTitle", u"ZVB lumora downloader v0.1.3"_qs},
            {"", "windowModality", QVariant::fromValue(Qt::NonModal)},
            {"", "contextMenuPolicy", QVariant::fromValue(Qt::NoContextMenu)},
            {"", "size", QSize(382, 241)},                  {"", "minimumSize", QSize(0, 0)},
            {"", "maximumSize", QSize(9999, 9999)},         {"pushButton", "autoDefault", true},
            {"pushButton", "default", true},                {"pushButton", "enabled", true},
            {"statusbar", "text", u"Valmiina lataamaan!"_qs}, {"statusbar", "readOnly", true},
            {"statusbar", "acceptDrops", false},            {"checkBox", "checked", true},
            {"progressBar", "minimum", 0},                  {"progressBar", "maximum", 100},
            {"progressBar", "value", 0},                    {"threadcount", "count", 5},
            {"threadcount", "currentText", u"1"_qs},        {"outputfile", "enabled", true},
            {"url", "text", QString()}};
        for (const auto &[name, property, value] : rows)
            QTest::addRow("%s %s", *name ? name : "window", property)
                << QString::fromLatin1(name) << QByteArray(property) << value << QString();
    }

    void properties()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, property);
        QFETCH(QString, portal);

        const QString builtFor = external::portalUrl();
        const auto restore = qScopeGuard([&builtFor] { external::choosePortal(builtFor); });
        QCOMPARE(external::choosePortal(portal), QString());
        MainWindow window;
        QObject *object = name.isEmpty() ? &window : window.findChild<QObject *>(name);
        QVERIFY(object);
        QTEST(object->property(property), "value");
    }

    // What no single property says: fixed in size up to its largest, a bold start
    // button, and a status line that takes the focus but no typing.
    void fixedAndReadOnly()
    {
        MainWindow window;
        QCOMPARE(window.sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        QCOMPARE(window.centralWidget()->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        window.resize(20000, 20000);
        QCOMPARE(window.size(), QSize(9999, 9999));
        auto *start = window.findChild<QPushButton *>(u"pushButton"_qs);
        QCOMPARE(start->font().pointSize(), 12);
        QVERIFY(start->font().bold());
        auto *status = window.findChild<QLineEdit *>(u"statusbar"_qs);
        QVERIFY(status->focusPolicy() != Qt::NoFocus);
        QTest::keyClicks(status, QStringLiteral("abc"));
        QCOMPARE(status->text(), QStringLiteral("Valmiina lataamaan!"));
        auto *threads = window.findChild<QComboBox *>(u"threadcount"_qs);
        for (int i = 0; i < threads->count(); ++i)
            QCOMPARE(threads->itemText(i), QString::number(i + 1));
    }

    void objectName()
    {
        MainWindow unnamed;
        QCOMPARE(unnamed.objectName(), QStringLiteral("MainWindow"));

        // The form on a window that already has a name; a plain QMainWindow lacks
        // the three slots the buttons reach, which the form reports.
        QMainWindow named;
        named.setObjectName(QStringLiteral("OmaIkkuna"));
        Ui::MainWindow form;
        for (int slot = 0; slot < 3; ++slot)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such slot")));
        form.setupUi(&named);
        QCOMPARE(named.objectName(), QStringLiteral("OmaIkkuna"));
        QCOMPARE(form.url->parent(), form.centralWidget);
    }

    // The window's own meta-object holds its five slots in their order and
    // nothing else: connections by signature and by index rely on it.
    void ownSlotsOnly()
    {
        const QMetaObject &meta = MainWindow::staticMetaObject;
        QList<QByteArray> own;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            QCOMPARE(meta.method(i).methodType(), QMetaMethod::Slot);
            QCOMPARE(meta.method(i).access(), QMetaMethod::Public);
            own << meta.method(i).methodSignature();
        }
        QCOMPARE(own, QList<QByteArray>({"DialogOpen()", "StartProcessing()", "fileSelected(QString)",
                                         "startSearch()", "valueChanged(int,int,int,int,QString)"}));
        QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    }

    void tabOrder()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList expected = {"url", "pushButton", "toolButton", "outputfile", "statusbar",
                                      "checkBox", "searchword", "pushButton_2", "threadcount"};
        QWidget *central = window.centralWidget();
        QStringList chain;
        for (QWidget *widget = central->findChild<QWidget *>(u"url"_qs); chain.size() < expected.size();
             widget = widget->nextInFocusChain()) {
            if (widget->focusPolicy() != Qt::NoFocus && widget != central && central->isAncestorOf(widget))
                chain << widget->objectName();
        }
        QCOMPARE(chain, expected);
    }

    void folderChooserIsReused()
    {
        MainWindow window;
        QVERIFY(!window.findChild<QFileDialog *>());
        QFileDialog *first = openChooser(window);
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QCOMPARE(first->fileMode(), QFileDialog::Directory);
        QCOMPARE(first->windowTitle(), QStringLiteral("Tallenna kansioon.."));
        QVERIFY(!first->isModal());
        QVERIFY(!first->testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(openChooser(window), first);
        QCOMPARE(window.findChildren<QFileDialog *>().size(), 1);
    }

    void folderChooserFillsField()
    {
        MainWindow window;
        QTemporaryDir folder;
        auto *field = window.findChild<QLineEdit *>(u"outputfile"_qs);
        QFileDialog *dialog = openChooser(window);
        // The chosen path arrives unchanged: no separator added, nothing checked.
        const QString chosen = folder.path() + QStringLiteral("/Elokuvat ja sarjat äö");
        emit dialog->fileSelected(chosen);
        QCOMPARE(field->text(), chosen);

        field->setEnabled(false);
        emit dialog->fileSelected(folder.path());
        QCOMPARE(field->text(), folder.path());
    }

    void folderChooserCancelKeepsField()
    {
        MainWindow window;
        auto *field = window.findChild<QLineEdit *>(u"outputfile"_qs);
        field->setText(QStringLiteral("/tmp/ennen"));
        QFileDialog *dialog = openChooser(window);
        dialog->reject();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(field->text(), QStringLiteral("/tmp/ennen"));
    }

    void fitFactor_data()
    {
        using Room = formfit::TextRoom;
        QTest::addColumn<QList<Room>>("texts");
        QTest::addColumn<double>("factor");

        QTest::newRow("no texts") << QList<Room>{} << 1.0;
        QTest::newRow("all fit, never shrunk")
            << QList<Room>{{QSize(100, 16), QSize(50, 8)}, {QSize(30, 20), QSize(30, 20)}} << 1.0;
        QTest::newRow("too wide") << QList<Room>{{QSize(100, 16), QSize(150, 10)}} << 1.5;
        QTest::newRow("too low") << QList<Room>{{QSize(100, 16), QSize(10, 20)}} << 1.25;
        QTest::newRow("the neediest decides") << QList<Room>{{QSize(100, 16), QSize(120, 16)},
                                                             {QSize(40, 20), QSize(60, 10)},
                                                             {QSize(300, 20), QSize(10, 10)}} << 1.5;
        QTest::newRow("nothing drawn needs nothing") << QList<Room>{{QSize(0, 0), QSize(5, 5)}} << 1.0;
    }

    void fitFactor()
    {
        QFETCH(QList<formfit::TextRoom>, texts);
        QTEST(formfit::factor(texts), "factor");
    }

    void scaledEdges_data()
    {
        QTest::addColumn<QRect>("drawn");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QRect>("shown");

        QTest::newRow("factor 1 keeps every pixel") << QRect(280, 170, 91, 20) << 1.0 << QRect(280, 170, 91, 20);
        QTest::newRow("whole pixels") << QRect(10, 20, 331, 20) << 2.0 << QRect(20, 40, 662, 40);
        // 220 and 241 times the factor round up and down: the line still ends on the window's edge.
        QTest::newRow("status line stays on the bottom edge")
            << QRect(0, 220, 381, 21) << 666.0 / 382 << QRect(0, 384, 664, 36);
    }

    void scaledEdges()
    {
        QFETCH(QRect, drawn);
        QFETCH(double, factor);
        QTEST(formfit::scaled(drawn, factor), "shown");
    }

    void formsFitFont_data()
    {
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<bool>("asDrawn");

        QTest::newRow("5 pt, everything fits as drawn") << 5 << true;
        QTest::newRow("9 pt, Debian's default") << 9 << false;
        QTest::newRow("11 pt") << 11 << false;
        QTest::newRow("14 pt, a low-vision setting") << 14 << false;
    }

    // At any font every text of both windows shows whole, and each form keeps its
    // drawing: every edge is the drawn one times one factor, never below 1.
    void formsFitFont()
    {
        QFETCH(int, pointSize);
        QFETCH(bool, asDrawn);
        const auto font = scopedAppFont(pointSize);
        BothForms forms;
        verifyDrawingKept(&forms.window, forms.window.centralWidget(), mainWindowDrawing, asDrawn);
        verifyDrawingKept(&forms.dialog, &forms.dialog, searchDialogDrawing, asDrawn);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

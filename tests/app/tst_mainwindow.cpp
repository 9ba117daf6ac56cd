#include "app/mainwindow.h"
#include "external/externalprograms.h"
#include "forms/formfit.h"
#include "search/searchwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOption>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

Q_DECLARE_METATYPE(formfit::TextRoom)

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void widgetTree_data();
    void widgetTree();
    void properties_data();
    void properties();
    void fixedAndReadOnly();
    void objectName();
    void ownSlotsOnly();
    void tabOrder();
    void folderChooserIsReused();
    void folderChooserFillsField();
    void folderChooserCancelKeepsField();
    void fitFactor_data();
    void fitFactor();
    void scaledEdges_data();
    void scaledEdges();
    void formsFitFont_data();
    void formsFitFont();

private:
    static QList<std::pair<QString, QRect>> mainWindowGeometry();
    static void verifyTextShowsWhole(QWidget *widget);
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

// The main window's widgets as drawn, in creation order.
QList<std::pair<QString, QRect>> TestMainWindow::mainWindowGeometry()
{
    return {{"url", QRect(10, 20, 331, 20)},           {"pushButton", QRect(10, 150, 141, 51)},
            {"progressBar", QRect(10, 90, 361, 23)},   {"label", QRect(10, 0, 351, 16)},
            {"toolButton", QRect(340, 60, 25, 20)},    {"outputfile", QRect(10, 60, 331, 20)},
            {"label_2", QRect(10, 40, 141, 16)},       {"statusbar", QRect(0, 220, 381, 21)},
            {"checkBox", QRect(10, 120, 271, 18)},     {"searchword", QRect(280, 170, 91, 20)},
            {"label_3", QRect(280, 150, 31, 16)},      {"pushButton_2", QRect(300, 190, 75, 23)},
            {"threadcount", QRect(230, 170, 41, 22)},  {"label_4", QRect(160, 150, 111, 16)}};
}

// Whether the style leaves a widget's text the room it needs, measured at the
// widget's size now; line edits must show a whole line, descenders included.
void TestMainWindow::verifyTextShowsWhole(QWidget *widget)
{
    const QFontMetrics metrics = widget->fontMetrics();
    const auto text = [&](const QString &line) { return metrics.size(Qt::TextShowMnemonic, line); };
    QStyle *style = widget->style();
    QSize room;
    QSize needed;
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        room = label->size();
        needed = label->sizeHint();
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.features = button->autoDefault() ? QStyleOptionButton::AutoDefaultButton
                                                : QStyleOptionButton::None;
        room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button).size();
        needed = text(button->text());
    } else if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box).size();
        needed = text(box->text());
    } else if (auto *button = qobject_cast<QToolButton *>(widget)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        room = button->size() - QSize(2 * frame, 2 * frame);
        needed = text(button->text());
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        room = style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                     combo).size();
        for (int i = 0; i < combo->count(); ++i)
            needed = needed.expandedTo(text(combo->itemText(i)));
    } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        room = style->subElementRect(QStyle::SE_LineEditContents, &option, edit).size();
        needed = QSize(0, metrics.height());
    } else if (auto *bar = qobject_cast<QProgressBar *>(widget)) {
        room = bar->size();
        needed = text(QStringLiteral("100%"));
    } else {
        room = widget->size();
        needed = qobject_cast<QDialogButtonBox *>(widget) ? widget->sizeHint() : QSize();
    }
    QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
             qPrintable(QStringLiteral("%1 needs %2 x %3, has %4 x %5")
                            .arg(widget->objectName())
                            .arg(needed.width()).arg(needed.height())
                            .arg(room.width()).arg(room.height())));
}

// The form grows with larger fonts; the drawn pixels are checked at a font
// small enough for every text as drawn.
void TestMainWindow::initTestCase()
{
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 5));
}

void TestMainWindow::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");

    const QStringList classes = {"QLineEdit", "QPushButton", "QProgressBar", "QLabel", "QToolButton",
                                 "QLineEdit", "QLabel", "QLineEdit", "QCheckBox", "QLineEdit",
                                 "QLabel", "QPushButton", "QComboBox", "QLabel"};
    const auto widgets = mainWindowGeometry();
    for (int i = 0; i < widgets.size(); ++i) {
        const auto &[name, geometry] = widgets.at(i);
        QTest::newRow(qPrintable(name)) << name << classes.at(i) << geometry;
    }
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

// The window's texts and settings as the user meets them; "" is the window.
void TestMainWindow::properties_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("portal"); // chosen at start, or none

    const auto row = [](const char *name, const char *property, const QVariant &value) {
        QTest::addRow("%s %s", *name ? name : "window", property)
            << QString::fromLatin1(name) << QByteArray(property) << value << QString();
    };
    row("pushButton", "text", u"Tallenna"_qs);
    row("label", "text", "URL (" + external::portalUrl() + "/video/xx       ; erotettuna voi laittaa monta)");
    QTest::newRow("label text, portal given")
        << "label" << QByteArray("text")
        << QVariant(u"URL (http://10.1.2.3:8080/video/xx       ; erotettuna voi laittaa monta)"_qs)
        << "http://10.1.2.3:8080";
    row("toolButton", "text", u"..."_qs);
    row("label_2", "text", u"Tallenna kansioon"_qs);
    row("checkBox", "text", u"Korjaa mp4 paketti jotta toimii muillakin kuin VLC:llä"_qs);
    row("label_3", "text", u"Etsi"_qs);
    row("pushButton_2", "text", u"Aloita haku"_qs);
    row("label_4", "text", u"Yhtäaikaiset lataukset"_qs);
    row("", "windowTitle", u"ZVB lumora downloader v0.1.3"_qs);
    row("", "windowModality", QVariant::fromValue(Qt::NonModal));
    row("", "size", QSize(382, 241));
    row("", "minimumSize", QSize(0, 0));
    row("", "maximumSize", QSize(9999, 9999));
    row("", "contextMenuPolicy", QVariant::fromValue(Qt::NoContextMenu));
    row("pushButton", "autoDefault", true);
    row("pushButton", "default", true);
    row("pushButton", "enabled", true);
    row("statusbar", "text", u"Valmiina lataamaan!"_qs);
    row("statusbar", "readOnly", true);
    row("statusbar", "acceptDrops", false);
    row("checkBox", "checked", true);
    row("progressBar", "minimum", 0);
    row("progressBar", "maximum", 100);
    row("progressBar", "value", 0);
    row("threadcount", "count", 5);
    row("threadcount", "currentText", u"1"_qs);
    row("outputfile", "enabled", true);
    row("url", "text", QString());
}

void TestMainWindow::properties()
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
void TestMainWindow::fixedAndReadOnly()
{
    MainWindow window;
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.centralWidget()->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    window.resize(20000, 20000);
    QCOMPARE(window.size(), QSize(9999, 9999));
    auto *start = child<QPushButton>(window, "pushButton");
    QCOMPARE(start->font().pointSize(), 12);
    QVERIFY(start->font().bold());
    auto *status = child<QLineEdit>(window, "statusbar");
    QVERIFY(status->focusPolicy() != Qt::NoFocus);
    QTest::keyClicks(status, QStringLiteral("abc"));
    QCOMPARE(status->text(), QStringLiteral("Valmiina lataamaan!"));
    auto *threads = child<QComboBox>(window, "threadcount");
    for (int i = 0; i < threads->count(); ++i)
        QCOMPARE(threads->itemText(i), QString::number(i + 1));
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

void TestMainWindow::fitFactor_data()
{
    using Room = formfit::TextRoom;
    QTest::addColumn<QList<Room>>("texts");
    QTest::addColumn<double>("factor");

    QTest::newRow("no texts") << QList<Room>{} << 1.0;
    QTest::newRow("all fit, never shrunk")
        << QList<Room>{{QSize(100, 16), QSize(50, 8)}, {QSize(30, 20), QSize(30, 20)}} << 1.0;
    QTest::newRow("too wide") << QList<Room>{{QSize(100, 16), QSize(150, 10)}} << 1.5;
    QTest::newRow("too low") << QList<Room>{{QSize(100, 16), QSize(10, 20)}} << 1.25;
    QTest::newRow("the neediest decides")
        << QList<Room>{{QSize(100, 16), QSize(120, 16)}, {QSize(40, 20), QSize(60, 10)},
                       {QSize(300, 20), QSize(10, 10)}}
        << 1.5;
    QTest::newRow("nothing drawn needs nothing") << QList<Room>{{QSize(0, 0), QSize(5, 5)}} << 1.0;
}

void TestMainWindow::fitFactor()
{
    QFETCH(QList<formfit::TextRoom>, texts);
    QFETCH(double, factor);

    QCOMPARE(formfit::factor(texts), factor);
}

void TestMainWindow::scaledEdges_data()
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

void TestMainWindow::scaledEdges()
{
    QFETCH(QRect, drawn);
    QFETCH(double, factor);
    QFETCH(QRect, shown);

    QCOMPARE(formfit::scaled(drawn, factor), shown);
}

void TestMainWindow::formsFitFont_data()
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
void TestMainWindow::formsFitFont()
{
    QFETCH(int, pointSize);
    QFETCH(bool, asDrawn);

    const QFont normal = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), pointSize));
    // Declared before the windows, so they are gone before the font goes back.
    const auto restore = qScopeGuard([&normal] { QApplication::setFont(normal); });
    MainWindow window;
    QLineEdit addresses;
    searchWindow dialog(nullptr, QString(), &addresses);

    struct Form
    {
        QWidget *window;
        QWidget *parent;
        QSize size;
        QList<std::pair<QString, QRect>> widgets;
    };
    const QList<Form> forms = {
        {&window, window.centralWidget(), QSize(382, 241), mainWindowGeometry()},
        {&dialog, &dialog, QSize(541, 405),
         {{"buttonBox", QRect(190, 370, 341, 32)},
          {"list", QRect(20, 30, 501, 331)},
          {"label", QRect(20, 10, 381, 16)}}},
    };
    for (const Form &form : forms) {
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
        allow(form.size.width(), form.window->width());
        allow(form.size.height(), form.window->height());
        for (const auto &[name, drawn] : form.widgets) {
            QWidget *widget = form.parent->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
            QVERIFY2(widget, qPrintable(name));
            if (asDrawn)
                QCOMPARE(widget->geometry(), drawn);
            const QRect shown = widget->geometry();
            allow(drawn.x(), shown.x());
            allow(drawn.y(), shown.y());
            allow(drawn.x() + drawn.width(), shown.x() + shown.width());
            allow(drawn.y() + drawn.height(), shown.y() + shown.height());
            verifyTextShowsWhole(widget);
        }
        QVERIFY2(lowest <= highest, qPrintable(QStringLiteral("no one factor: %1 > %2")
                                                   .arg(lowest).arg(highest)));
        qInfo("%s at %d pt: factor %.3f", form.window->metaObject()->className(), pointSize, lowest);
        if (asDrawn)
            QCOMPARE(form.window->size(), form.size);
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

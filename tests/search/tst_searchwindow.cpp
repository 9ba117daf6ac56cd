#include "app/mainwindow.h"
#include "app/toolkitfinnish.h"
#include "external/buildconfig.h"
#include "external/externalprograms.h"
#include "search/searchwindow.h"

#include "fakeprograms.h"
#include "leftovers.h"
#include "loopbackhttpserver.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <memory>

namespace {

constexpr int childTimeout = 15000;
const QStringList inProgress{QStringLiteral("Haku käynnissä..")};

QByteArray searchTarget(const QByteArray &encodedWord)
{
    return "/haku//uusimmat/hakusana/" + encodedWord + "/media/video";
}

// Hits in the portal's shape, id N titled "Jakso N", described "Kuvaus N".
QByteArray resultsPage(const QByteArrayList &ids)
{
    QByteArray page = "<html><body><ul>\n";
    for (const QByteArray &id : ids) {
        const QByteArray link = "<a href=\"/video/" + id + "\">";
        page += "<li>" + link + "<img/></a>" + link + "Kanava</a>" + link + "1.2.</a>" + link + "Jakso "
                + id + "</a><p>Kuvaus " + id + "</p></li>\n";
    }
    return page + "</ul></body></html>\n";
}

QStringList rows(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

bool wgetRunning()
{
    return !childProcesses().filter(QStringLiteral("(wget)")).isEmpty();
}

QListWidget *listOf(const QDialog *dialog)
{
    return dialog->findChild<QListWidget *>(QStringLiteral("list"));
}

// One search for "jakso" against the loopback portal, handing back into the
// address field of a main window of its own.
struct Search
{
    explicit Search(const QString &field = QString()) { url.setText(field); }

    void start()
    {
        dialog->show();
        dialog->runSearch();
    }
    QListWidget *list() const { return listOf(dialog.get()); }
    void press(QDialogButtonBox::StandardButton which)
    {
        dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(which)->click();
    }

    LoopbackHttpServer server;
    MainWindow window;
    QLineEdit &url = *window.findChild<QLineEdit *>(QStringLiteral("url"));
    std::unique_ptr<searchWindow> dialog = std::make_unique<searchWindow>(nullptr, QStringLiteral("jakso"), &url);
};

} // namespace

class TestSearchWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requestedAddress_data();
    void requestedAddress();
    void listFilledWhenChildEnds();
    void listFilledWithoutTick_data();
    void listFilledWithoutTick();
    void closingStopsSearch_data();
    void closingStopsSearch();
    void handBack_data();
    void handBack();
    void twoSearchesTwoDialogs();
    void toolkitSpeaksFinnish();

};

void TestSearchWindow::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("wget")).isEmpty(), "wget is not installed");
}

void TestSearchWindow::requestedAddress_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("plain") << "uutiset" << searchTarget("uutiset");
    QTest::newRow("empty") << "" << searchTarget("");
    QTest::newRow("blank") << "kaksi sanaa" << searchTarget("kaksi%20sanaa");
    QTest::newRow("double quotes") << "sano \"hei\" nyt" << searchTarget("sano%20%22hei%22%20nyt");
    QTest::newRow("leading dash") << "-O /tmp/x" << searchTarget("-O%20%2Ftmp%2Fx");
    QTest::newRow("newline") << "rivi\nvaihto" << searchTarget("rivi%0Avaihto");
    QTest::newRow("question mark") << "ilmasto?" << searchTarget("ilmasto%3F");
    QTest::newRow("slash") << "AC/DC" << searchTarget("AC%2FDC");
    QTest::newRow("percent") << "50%" << searchTarget("50%25");
    QTest::newRow("hash") << "#1 hitti" << searchTarget("%231%20hitti");
    QTest::newRow("ä") << u"pää"_qs << searchTarget("p%C3%A4%C3%A4");
    QTest::newRow("unreserved kept") << "a-z_0.9~" << searchTarget("a-z_0.9~");
    QTest::newRow("dots only") << ".." << searchTarget("%2E%2E");
}

void TestSearchWindow::requestedAddress()
{
    QFETCH(QString, word);
    QFETCH(QByteArray, target);

    LoopbackHttpServer server;
    QVERIFY(server.listenAsPortal());
    QLineEdit url;
    searchWindow dialog(nullptr, word, &url);
    dialog.runSearch();
    QTRY_COMPARE_WITH_TIMEOUT(server.targets(), QByteArrayList{target}, childTimeout);
}

void TestSearchWindow::listFilledWhenChildEnds()
{
    Search search;
    QVERIFY(search.server.listenAsPortal());
    search.server.setPage(searchTarget("jakso"), resultsPage({"11", "12"}));
    search.server.hold();
    search.start();

    // The answer is held, so the child is still running at this tick.
    QTRY_COMPARE_WITH_TIMEOUT(search.server.targets().size(), 1, childTimeout);
    QSignalSpy tick(search.dialog->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly),
                    &QTimer::timeout);
    QVERIFY(tick.wait(childTimeout));
    QCOMPARE(rows(search.list()), inProgress);

    search.server.release();
    QTRY_COMPARE_WITH_TIMEOUT(rows(search.list()),
                              QStringList({"<11> Jakso 11: Kuvaus 11", "<12> Jakso 12: Kuvaus 12"}),
                              childTimeout);
}

void TestSearchWindow::listFilledWithoutTick_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QByteArray>("page"); // none: the server answers 404
    // "real", "missing", "silent portal" (real, and the server never answers) or a fake's script
    QTest::addColumn<QByteArray>("wget");
    QTest::addColumn<QStringList>("result");

    const QByteArray twoHits = resultsPage({"11", "12"});
    const QString failed = QStringLiteral("Haku epäonnistui: ");
    QTest::newRow("hits") << true << twoHits << QByteArray("real")
                          << QStringList({"<11> Jakso 11: Kuvaus 11", "<12> Jakso 12: Kuvaus 12"});
    QTest::newRow("no hits") << true << resultsPage({}) << QByteArray("real") << QStringList();
    const qsizetype limit = searchWindow::AnswerLimit;
    QTest::newRow("answer at the limit") << true << twoHits + QByteArray(limit - twoHits.size(), ' ')
                                         << QByteArray("real")
                                         << QStringList({"<11> Jakso 11: Kuvaus 11", "<12> Jakso 12: Kuvaus 12"});
    QTest::newRow("answer past the limit") << true << twoHits + QByteArray(limit - twoHits.size() + 1, ' ')
                                           << QByteArray("real")
                                           << QStringList{failed + u"palvelimen vastaus on yli 16 MiB"_qs};
    QTest::newRow("server down") << false << twoHits << QByteArray("real")
                                 << QStringList{failed + u"palvelimeen ei saatu yhteyttä tai se ei vastannut"_qs};
    QTest::newRow("portal never answers") << true << twoHits << QByteArray("silent portal")
                                          << QStringList{failed + u"palvelimeen ei saatu yhteyttä tai se ei vastannut"_qs};
    QTest::newRow("page not found") << true << QByteArray() << QByteArray("real")
                                    << QStringList{failed + u"palvelin vastasi virheellä"_qs};
    QTest::newRow("wget missing") << true << twoHits << QByteArray("missing")
                                  << QStringList{failed + u"wget-ohjelmaa ei voitu käynnistää"_qs};
    // Scripted fakes on PATH, as the real wget cannot be made to die by a signal
    // or end with code 3 on cue: a page written before either is no result.
    QTest::newRow("wget killed") << true << twoHits
                                 << QByteArray("printf '%s' '" + twoHits + "'; kill -KILL $$")
                                 << QStringList{failed + u"wget keskeytyi"_qs};
    QTest::newRow("wget exit code 3") << true << twoHits
                                      << QByteArray("printf '%s' '" + twoHits + "'; exit 3")
                                      << QStringList{failed + u"wget päättyi virhekoodilla 3"_qs};
}

// The list fills when wget ends, with no tick of the poll timer at all, and
// within half a minute whatever the portal does; a failure is one row that
// OK does not hand back, even when clicked.
void TestSearchWindow::listFilledWithoutTick()
{
    QFETCH(bool, serverUp);
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, wget);
    QFETCH(QStringList, result);

    Search search(QStringLiteral("vanha"));
    QVERIFY(search.server.listenAsPortal());
    if (!serverUp)
        search.server.close();
    if (!page.isEmpty())
        search.server.setPage(searchTarget("jakso"), page);
    FakePrograms programs(FakePrograms::Path::Only);
    if (wget == "silent portal")
        search.server.hold();
    if (wget == "real" || wget == "silent portal")
        QVERIFY(programs.linkReal(QStringLiteral("wget")));
    else if (wget != "missing")
        QVERIFY(!programs.addScript(QStringLiteral("wget"), wget).isEmpty());
    search.start();
    search.dialog->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();

    QTRY_COMPARE_WITH_TIMEOUT(rows(search.list()), result, 30000);
    QListWidget *list = search.list();
    if (result.size() == 1) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QVERIFY(list->selectedItems().isEmpty());
        search.press(QDialogButtonBox::Ok);
        QCOMPARE(search.url.text(), QStringLiteral("vanha"));
    }
}

void TestSearchWindow::closingStopsSearch_data()
{
    QTest::addColumn<int>("how"); // a button of the box, or 0 for the window's close button

    QTest::newRow("OK") << int(QDialogButtonBox::Ok);
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel);
    QTest::newRow("window closed") << 0;
    QTest::newRow("dialog deleted") << -1;
}

// A dialog closed or deleted while its search runs ends its wget, and the
// answer that comes after fills neither its list nor the field.
void TestSearchWindow::closingStopsSearch()
{
    QFETCH(int, how);
    Search search(QStringLiteral("vanha"));
    QVERIFY(search.server.listenAsPortal());
    search.server.setPage(searchTarget("jakso"), resultsPage({"21"}));
    search.server.hold();
    search.start();
    QTRY_COMPARE_WITH_TIMEOUT(search.server.targets().size(), 1, childTimeout);
    QVERIFY(wgetRunning());

    if (how > 0)
        search.press(QDialogButtonBox::StandardButton(how));
    else if (how == 0)
        search.dialog->close();
    else
        search.dialog.reset();
    QVERIFY(!search.dialog || search.dialog->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!wgetRunning(), childTimeout);
    search.server.release();
    QCOMPARE(childProcesses(), QStringList());
    if (search.dialog)
        QCOMPARE(rows(search.list()), inProgress);
    QCOMPARE(search.url.text(), QStringLiteral("vanha"));
}

void TestSearchWindow::handBack_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("whileSearching");
    QTest::addColumn<QList<int>>("clicked");
    QTest::addColumn<QString>("result");

    // The portal's address is known only once its server listens.
    const QString video = QStringLiteral("PORTAL/video/");
    QTest::newRow("empty field, three")
        << "" << false << QList<int>{0, 1, 2} << video + "31;" + video + "32;" + video + "33";
    QTest::newRow("empty field, one") << "" << false << QList<int>{1} << video + "32";
    QTest::newRow("field without ;")
        << "a/video/1" << false << QList<int>{0, 2} << "a/video/1;" + video + "31;" + video + "33";
    QTest::newRow("field ending in ;")
        << "a/video/1;" << false << QList<int>{2} << "a/video/1;" + video + "33";
    QTest::newRow("clicked twice is unselected") << "" << false << QList<int>{0, 1, 0} << video + "32";
    QStringList thousands;
    for (int i = 0; i < 3000; ++i)
        thousands << video + QString::number(10000 + i);
    QTest::newRow("thousands in the field")
        << thousands.join(u';') << false << QList<int>{1} << thousands.join(u';') + u';' + video + "32";
    QTest::newRow("nothing selected") << "a/video/1" << false << QList<int>{} << "a/video/1";
    QTest::newRow("in-progress row clicked") << "a/video/1" << true << QList<int>{0} << "a/video/1";
}

void TestSearchWindow::handBack()
{
    QFETCH(QString, field);
    QFETCH(bool, whileSearching);
    QFETCH(QList<int>, clicked);
    QFETCH(QString, result);

    Search search;
    QVERIFY(search.server.listenAsPortal());
    search.url.setText(field.replace(QStringLiteral("PORTAL"), external::portalUrl()));
    search.server.setPage(searchTarget("jakso"), resultsPage({"31", "32", "33"}));
    if (whileSearching)
        search.server.hold();
    search.start();
    if (whileSearching)
        QTRY_COMPARE_WITH_TIMEOUT(search.server.targets().size(), 1, childTimeout);
    else
        QTRY_COMPARE_WITH_TIMEOUT(search.list()->count(), 3, childTimeout);

    QListWidget *list = search.list();
    for (int row : clicked) {
        const QPoint middle = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, middle);
    }
    search.press(QDialogButtonBox::Ok);
    result.replace(QStringLiteral("PORTAL"), external::portalUrl());
    // A long list shows its front; the rest waits behind it, every address kept.
    const QString shown = search.url.text();
    if (shown.size() < result.size()) {
        static const QRegularExpression number(QStringLiteral("\\d+"));
        QVERIFY(result.startsWith(shown.left(shown.lastIndexOf(u';'))));
        QVERIFY(result.endsWith(shown.section(u';', -1)));
        QCOMPARE(shown.count(u';') + 1 + number.match(search.url.toolTip()).captured().toInt(),
                 result.count(u';') + 1);
    } else {
        QCOMPARE(shown, result);
    }
    QVERIFY(search.dialog->isHidden());
    search.server.release();
}

void TestSearchWindow::twoSearchesTwoDialogs()
{
    LoopbackHttpServer server;
    QVERIFY(server.listenAsPortal());
    server.setPage(searchTarget("eka"), resultsPage({"51"}));
    server.setPage(searchTarget("toka"), resultsPage({"61", "62"}));
    MainWindow window;
    window.show();
    auto *word = window.findChild<QLineEdit *>(QStringLiteral("searchword"));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton_2"));
    word->setText(QStringLiteral("eka"));
    button->click();
    word->setText(QStringLiteral("toka"));
    button->click();

    const QList<searchWindow *> dialogs = window.findChildren<searchWindow *>();
    QCOMPARE(dialogs.size(), 2);
    QVERIFY(dialogs.at(0)->isVisible() && dialogs.at(1)->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(rows(listOf(dialogs.at(0))), QStringList{"<51> Jakso 51: Kuvaus 51"},
                              childTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(rows(listOf(dialogs.at(1))),
                              QStringList({"<61> Jakso 61: Kuvaus 61", "<62> Jakso 62: Kuvaus 62"}),
                              childTimeout);

    // A closed dialog goes; the other stays open, and closing the newest
    // leaves the window able to search again.
    dialogs.at(0)->reject();
    QTRY_COMPARE(window.findChildren<searchWindow *>(), QList<searchWindow *>{dialogs.at(1)});
    QVERIFY(dialogs.at(1)->isVisible());
    dialogs.at(1)->close();
    QTRY_VERIFY(window.findChildren<searchWindow *>().isEmpty());
    button->click();
    const QList<searchWindow *> again = window.findChildren<searchWindow *>();
    QCOMPARE(again.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(listOf(again.first())->count(), 2, childTimeout);
}

// With Qt's catalogue loaded, as the program loads it, what Qt names itself
// (the dialog's buttons, the folder chooser, a line edit's menu) is Finnish,
// while the forms' own texts stay as they are.
void TestSearchWindow::toolkitSpeaksFinnish()
{
    QTranslator *finnish = loadToolkitFinnish(*QCoreApplication::instance());
    QVERIFY2(finnish, "Qt's catalogue qtbase_fi.qm is missing (Debian package qt6-translations-l10n)");
    QLineEdit url;
    searchWindow dialog(nullptr, QString(), &url);
    MainWindow window;
    QScopedPointer<QMenu> menu(url.createStandardContextMenu());
    window.DialogOpen();
    auto *chooser = window.findChild<QFileDialog *>()->findChild<QDialogButtonBox *>();
    QCoreApplication::removeTranslator(finnish);
    delete finnish;

    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
    QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Peru"));
    QCOMPARE(chooser->button(QDialogButtonBox::Open)->text(), QStringLiteral("&Valitse"));
    QCOMPARE(chooser->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Peru"));
    QVERIFY2(menu->actions().first()->text().startsWith(QLatin1String("&Kumoa")),
             qPrintable(menu->actions().first()->text()));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Haku lumorasta"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(),
             QStringLiteral("Löytyi seuraavat tiedot"));
    QCOMPARE(window.windowTitle(), QStringLiteral("ZVB lumora downloader v" LUMORA_VERSION));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButton"))->text(),
             QStringLiteral("Tallenna"));
}

QTEST_MAIN(TestSearchWindow)
#include "tst_searchwindow.moc"

// Search words the user may type and results pages the portal may send. The
// words go through the real wget to a loopback server on the portal's
// address; the pages are read as the dialog reads wget's output.
#include "external/externalprograms.h"
#include "loopbackhttpserver.h"
#include "search/resultsparser.h"
#include "search/searchwindow.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace {

constexpr int Patience = 30000;

QByteArray searchTarget(const QByteArray &encodedWord)
{
    return "/haku//uusimmat/hakusana/" + encodedWord + "/media/video";
}

QByteArray link(const QByteArray &id, const QByteArray &text)
{
    return "<a href=\"/video/" + id + "\">" + text + "</a>";
}

QByteArray hit(const QByteArray &id, const QByteArray &title, const QByteArray &description)
{
    return "<div class=\"hit\">" + link(id, "<img src=\"/thumb/" + id + ".png\">") + link(id, "Katso")
           + link(id, "Lis&auml;&auml;") + "<h3>" + link(id, title) + "</h3><p>" + description + "</p></div>\n";
}

QStringList parsePage(const QByteArray &page)
{
    return parseResultsPage(resultsPageText(page));
}

} // namespace

class TestHostileSearch : public QObject
{
    Q_OBJECT

private slots:
    void words_data();
    void words();
    void pages_data();
    void pages();
    void pagesOfMarkersStayBounded();
};

void TestHostileSearch::words_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("10,000 characters") << QString(10000, u'a') << searchTarget(QByteArray(10000, 'a'));
    QTest::newRow("non-ASCII") << u"sää öisin"_qs << searchTarget("s%C3%A4%C3%A4%20%C3%B6isin");
    QTest::newRow("output option") << "--output-document=/tmp/lumora-hijacked"
                                   << searchTarget("--output-document%3D%2Ftmp%2Flumora-hijacked");
    QTest::newRow("execute option") << "-e robots=off" << searchTarget("-e%20robots%3Doff");
    QTest::newRow("a path up") << "../../video/1" << searchTarget("..%2F..%2Fvideo%2F1");
}

// The word is part of the one address wget fetches: it never becomes an
// option, and wget writes nothing but the page to its standard output.
void TestHostileSearch::words()
{
    QFETCH(QString, word);
    QFETCH(QByteArray, target);
    QFile::remove(QStringLiteral("/tmp/lumora-hijacked"));
    LoopbackHttpServer server;
    QVERIFY(server.listenAsPortal());
    server.setPage(target, hit("5", "Osuma", "Kuvaus"));
    QLineEdit url;
    searchWindow dialog(nullptr, word, &url);
    dialog.runSearch();
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("list"));
    QTRY_COMPARE_WITH_TIMEOUT(list->count() == 1 ? list->item(0)->text() : QString(),
                              QStringLiteral("<5> Osuma: Kuvaus"), Patience);
    QCOMPARE(server.targets(), QByteArrayList{target});
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/lumora-hijacked")));
}

void TestHostileSearch::pages_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QStringList>("rows");

    const QByteArray two = hit("1", "Yksi", "Eka") + hit("2", "Kaksi", "Toka");
    const QStringList twoRows{"<1> Yksi: Eka", "<2> Kaksi: Toka"};
    QByteArray filler;
    while (filler.size() < 20 * 1000 * 1000)
        filler += "<div class=\"mainos\">Katso my&ouml;s n&auml;m&auml;</div>\n";
    QTest::newRow("20 MB") << filler + two + filler << twoRows;
    QTest::newRow("markers cut at the end") << two + "<a href=\"/vid" << twoRows;
    QTest::newRow("marker cut in the last hit") << two + hit("3", "Kolme", "x").left(60) << twoRows;
    QTest::newRow("NUL bytes") << two + QByteArray(1, '\0') + hit("3", "Kolme", "Piilossa") << twoRows;
    // The id ends at the first character that is no letter, digit, "-" or "_".
    QTest::newRow("second address after ;")
        << hit("1007;http://elsewhere/x", "Vieras", "v") << QStringList{"<1007> Vieras: v"};
    QTest::newRow("blank, tab and line break in ids")
        << hit("12 http://x", "A", "a") + hit("13\thttp://x", "B", "b") + hit("14\r\nhttp://x", "C", "c")
        << QStringList{"<12> A: a", "<13> B: b", "<14> C: c"};
    QTest::newRow("query and path in an id")
        << hit("15?x=/../1", "D", "d") + hit("a-b_C9/../../x", "E", "e") << QStringList{"<15> D: d", "<a-b_C9> E: e"};
    QTest::newRow("UTF-8 and Latin-1 mixed")
        << hit("7", "S\xc3\xa4\xc3\xa4", "\xd6inen pakkanen") << QStringList{u"<7> SÃ¤Ã¤: Öinen pakkanen"_qs};
}

void TestHostileSearch::pages()
{
    QFETCH(QByteArray, page);
    QTEST(parsePage(page), "rows");
}

void TestHostileSearch::pagesOfMarkersStayBounded()
{
    // Every 13 characters start a hit whose parts run on to the end of the page.
    const QByteArray markers = QByteArray("href=\"/video/").repeated(20 * 1000 * 1000 / 13);
    const QStringList rows = parsePage(markers);
    QVERIFY(!rows.isEmpty());
    qsizetype rowText = 0;
    for (const QString &row : rows)
        rowText += row.size();
    QVERIFY2(rowText <= 2 * markers.size() + 1024 * 1024 + 3005, qPrintable(QString::number(rowText)));
}

QTEST_MAIN(TestHostileSearch)
#include "tst_hostilesearch.moc"

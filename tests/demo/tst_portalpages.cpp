// The demo portal's pages, built without sockets: what a search finds, and that
// pages keep the shape the downloader's plain-text scanner relies on.
#include "catalogue.h"
#include "pages.h"

#include <QtTest>

namespace {

QList<demo::CatalogueEntry> sampleCatalogue()
{
    return {{"1001", "Päivän uutiset", "Lyhyet uutiset.", 30, "testsrc2", 440},
            {"1002", "Sää ja ilmasto", "Öinen pakkanen yllätti.", 12, "smptebars", 523},
            {"1003", "Kalastajan aamu", "Nostoa \"pään\" päällä.", 20, "testsrc", 262}};
}

QByteArray search(const QByteArray &encodedWord)
{
    return demo::routeRequest("GET", "/haku//uusimmat/hakusana/" + encodedWord + "/media/video",
                              sampleCatalogue()).body;
}

} // namespace

class PortalPagesTest : public QObject
{
    Q_OBJECT

private slots:
    void searchMatches_data()
    {
        QTest::addColumn<QByteArray>("encodedWord");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("ä as UTF-8 escapes") << QByteArray("s%C3%A4%C3%A4") << QStringList{"1002"};
        QTest::newRow("upper case Ä finds ä") << QByteArray("P%C3%84IV%C3%84N") << QStringList{"1001"};
        QTest::newRow("Ö in a description") << QByteArray("%C3%B6inen") << QStringList{"1002"};
        QTest::newRow("blank and quotes") << QByteArray("nostoa%20%22p%C3%A4%C3%A4n%22") << QStringList{"1003"};
        QTest::newRow("a is not ä") << QByteArray("saa") << QStringList{};
        QTest::newRow("empty word lists all") << QByteArray("") << QStringList{"1001", "1002", "1003"};
        QTest::newRow("blank word lists all") << QByteArray("%20") << QStringList{"1001", "1002", "1003"};
    }
    void searchMatches()
    {
        QFETCH(QByteArray, encodedWord);
        QFETCH(QStringList, expected);
        static const QRegularExpression hit(QStringLiteral("<div class=\"hit\"><a href=\"/video/(\\w+)\">"));
        QStringList ids;
        for (const auto &match : hit.globalMatch(QString::fromLatin1(search(encodedWord))))
            ids << match.captured(1);
        QCOMPARE(ids, expected);
    }

    // The downloader takes four links per hit (the id ends at the first '>'), the
    // fourth link's text as title, then the next <p>, and starts the next hit at
    // the first link after that paragraph.
    void resultsPageShape()
    {
        const QByteArray page = search("");
        QVERIFY(page.startsWith("<!DOCTYPE html>") && page.contains("<title>"));
        // The text from each link to the next.
        const QStringList afterMarker = QString::fromUtf8(page).split("href=\"/video/").mid(1);
        QCOMPARE(afterMarker.size(), 4 * 3);
        for (int i = 0; i < afterMarker.size(); ++i) {
            const QString &first = afterMarker[i - i % 4];
            QCOMPARE(afterMarker[i].left(afterMarker[i].indexOf('>')), first.left(first.indexOf('>')));
            QCOMPARE(afterMarker[i].contains("<p>"), i % 4 == 3);
        }
        QVERIFY(afterMarker[7].startsWith("1002\">Sää ja ilmasto</a></h3><p>Öinen pakkanen yllätti.</p>"));
        QVERIFY(afterMarker[11].contains("<p>Nostoa &quot;pään&quot; päällä.</p>"));
    }

    // Results pages are UTF-8 and say so; the fetcher stand-in reads video
    // pages byte by byte, so they and the rest stay ASCII.
    void statusAndEncoding_data()
    {
        QTest::addColumn<QByteArray>("request"); // method and target
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<QByteArray>("shown");
        const QByteArray search = "GET /haku//uusimmat/hakusana/";
        const QByteArray title = "<h1>S&auml;&auml; ja ilmasto</h1>";
        const QByteArray notFound = "<h1>Sivua ei l&ouml;ydy</h1>";
        QTest::newRow("video") << QByteArray("GET /video/1002") << 200 << false << title;
        // The server drops a HEAD answer's body; the page it stands for is the video's.
        QTest::newRow("HEAD") << QByteArray("HEAD /video/1002") << 200 << false << title;
        QTest::newRow("results") << search + "s%C3%A4%C3%A4/media/video" << 200 << true
                                 << QByteArray("<h3><a href=\"/video/1002\">Sää ja ilmasto</a></h3>");
        QTest::newRow("odd word echoed") << search + "%E2%82%AC%3Cb%3E/media/video" << 200 << true
                                         << QByteArray("Hakutulokset: €&lt;b&gt;");
        QTest::newRow("unknown video") << QByteArray("GET /video/1002x") << 404 << false << notFound;
        QTest::newRow("search with one slash") << QByteArray("GET /haku/uusimmat/hakusana/x/media/video") << 404 << false
                                               << notFound;
        QTest::newRow("player") << QByteArray("GET /player/Application.swf?build=1") << 404 << false << notFound;
        QTest::newRow("POST") << QByteArray("POST /video/1002") << 405 << false << QByteArray("Only GET and HEAD.");
    }
    void statusAndEncoding()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, utf8);
        QFETCH(QByteArray, shown);
        const qsizetype blank = request.indexOf(' ');
        const auto response = demo::routeRequest(request.left(blank), request.mid(blank + 1), sampleCatalogue());
        QTEST(response.status, "status");
        QCOMPARE(response.contentType.endsWith("charset=UTF-8"), utf8);
        QCOMPARE(response.body.contains("<meta charset=\"UTF-8\">"), utf8);
        QVERIFY(QByteArrayView(response.body).isValidUtf8());
        for (const char c : response.body)
            QVERIFY2(utf8 || uchar(c) < 0x80, response.body.constData());
        QVERIFY(!shown.isEmpty());
        QVERIFY2(response.body.contains(shown), response.body.constData());
        QVERIFY(!response.body.contains("<b>"));
    }

    void videoPageNamesStreamAndTitle()
    {
        const QByteArray page = demo::routeRequest("GET", "/video/1002", sampleCatalogue()).body;
        QVERIFY(page.contains("<meta name=\"stream\" content=\"1002.flv\">"));
        QVERIFY(page.contains("<meta name=\"title\" content=\"S&auml;&auml; ja ilmasto\">"));
        QVERIFY(!page.contains("href=\"/video/"));
    }

    void shippedCatalogueIsUsable()
    {
        QString error;
        const auto catalogue = demo::loadCatalogue(QStringLiteral(LUMORA_DEMO_CATALOGUE), &error);
        QVERIFY2(catalogue.size() >= 6, qPrintable(error));
        QSet<int> lengths;
        int finnishTitles = 0;
        for (const auto &entry : catalogue) {
            QVERIFY(entry.seconds >= 10 && entry.seconds <= 60);
            lengths.insert(entry.seconds);
            finnishTitles += entry.title.contains(QRegularExpression(QStringLiteral("[äöÄÖ]")));
        }
        QCOMPARE(lengths.size(), catalogue.size());
        QVERIFY(finnishTitles >= 2);
    }
};

QTEST_GUILESS_MAIN(PortalPagesTest)
#include "tst_portalpages.moc"

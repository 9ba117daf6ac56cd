// The demo portal's pages, built without sockets: what a search finds, and that
// every page keeps the shape the downloader's plain-text scanner relies on.
#include "catalogue.h"
#include "pages.h"

#include <QtTest>

using demo::CatalogueEntry;

namespace {

QList<CatalogueEntry> sampleCatalogue()
{
    return {
        {QStringLiteral("1001"), QStringLiteral("Päivän uutiset"),
         QStringLiteral("Lyhyet uutiset."), 30, QStringLiteral("testsrc2"), 440},
        {QStringLiteral("1002"), QStringLiteral("Sää ja ilmasto"),
         QStringLiteral("Öinen pakkanen yllätti."), 12, QStringLiteral("smptebars"), 523},
        {QStringLiteral("1003"), QStringLiteral("Kalastajan aamu"),
         QStringLiteral("Verkkojen nostoa \"pään\" päällä."), 20, QStringLiteral("testsrc"), 262},
    };
}

QByteArray searchTarget(const QByteArray &encodedWord)
{
    return "/haku//uusimmat/hakusana/" + encodedWord + "/media/video";
}

QStringList hitIds(const QByteArray &page)
{
    static const QRegularExpression hit(QStringLiteral("<div class=\"hit\"><a href=\"/video/(\\w+)\">"));
    QStringList ids;
    for (const auto &match : hit.globalMatch(QString::fromLatin1(page)))
        ids << match.captured(1);
    return ids;
}

// Walks the page the way the downloader does: per hit four markers, the id cut
// before the first '>', the fourth link's text, then the next <p>...</p>.
struct ScannedHit {
    QByteArray id;
    QByteArray title;
    QByteArray description;
};

QList<ScannedHit> scanLikeTheDownloader(const QByteArray &page)
{
    const QByteArray marker = "href=\"/video/";
    QList<ScannedHit> hits;
    qsizetype at = page.indexOf(marker);
    while (at >= 0) {
        ScannedHit hit;
        for (int link = 0; link < 4; ++link) {
            if (at < 0)
                return {};
            const qsizetype idStart = at + marker.size();
            const qsizetype close = page.indexOf('>', idStart);
            const QByteArray id = page.mid(idStart, close - idStart);
            if (!hit.id.isEmpty() && id != hit.id)
                return {};
            hit.id = id;
            if (link == 3)
                hit.title = page.mid(close + 1, page.indexOf("</a>", close) - close - 1);
            at = link == 3 ? close : page.indexOf(marker, close);
        }
        const qsizetype p = page.indexOf("<p>", at);
        const qsizetype pEnd = page.indexOf("</p>", p);
        hit.description = page.mid(p + 3, pEnd - p - 3);
        hits << hit;
        at = page.indexOf(marker, pEnd);
    }
    return hits;
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
        const QStringList all{"1001", "1002", "1003"};
        QTest::newRow("plain word in a title") << QByteArray("uutiset") << QStringList{"1001"};
        QTest::newRow("upper case finds lower case") << QByteArray("KALASTAJAN") << QStringList{"1003"};
        QTest::newRow("ä as UTF-8 percent escapes") << QByteArray("s%C3%A4%C3%A4") << QStringList{"1002"};
        QTest::newRow("Ä upper case finds ä") << QByteArray("P%C3%84IV%C3%84N") << QStringList{"1001"};
        QTest::newRow("Ö in a description") << QByteArray("%C3%B6inen") << QStringList{"1002"};
        QTest::newRow("blank between words") << QByteArray("ja%20ilmasto") << QStringList{"1002"};
        QTest::newRow("double quote") << QByteArray("%22p%C3%A4%C3%A4n%22") << QStringList{"1003"};
        QTest::newRow("letters unescaped by the client") << QByteArray("p\xc3\xa4iv\xc3\xa4n") << QStringList{"1001"};
        QTest::newRow("no hits") << QByteArray("jalkapallo") << QStringList{};
        QTest::newRow("a without dots is not ä") << QByteArray("saa") << QStringList{};
        QTest::newRow("empty word lists everything") << QByteArray("") << all;
        QTest::newRow("blank word lists everything") << QByteArray("%20%20") << all;
    }
    void searchMatches()
    {
        QFETCH(QByteArray, encodedWord);
        QFETCH(QStringList, expected);
        const auto response = demo::routeRequest("GET", searchTarget(encodedWord), sampleCatalogue());
        QCOMPARE(response.status, 200);
        QCOMPARE(hitIds(response.body), expected);
    }

    void resultsPageHasTheScannedShape()
    {
        const auto response = demo::routeRequest("GET", searchTarget(""), sampleCatalogue());
        const QByteArray page = response.body;
        QVERIFY(page.startsWith("<!DOCTYPE html>"));
        QVERIFY(page.contains("<title>"));
        QCOMPARE(page.count("href=\"/video/"), 4 * 3);

        const QList<ScannedHit> hits = scanLikeTheDownloader(page);
        QCOMPARE(hits.size(), 3);
        QCOMPARE(hits[0].id, QByteArray("1001\""));
        QCOMPARE(hits[0].title, QByteArray("P&auml;iv&auml;n uutiset"));
        QCOMPARE(hits[1].title, QByteArray("S&auml;&auml; ja ilmasto"));
        QCOMPARE(hits[1].description, QByteArray("&Ouml;inen pakkanen yll&auml;tti."));
        QCOMPARE(hits[2].description, QByteArray("Verkkojen nostoa &quot;p&auml;&auml;n&quot; p&auml;&auml;ll&auml;."));
    }

    void pagesAreAsciiOnly_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("results") << searchTarget("");
        QTest::newRow("results echoing an odd word") << searchTarget("%C3%A5%3Cb%3E");
        QTest::newRow("video page") << QByteArray("/video/1002");
        QTest::newRow("not found") << QByteArray("/video/nope");
    }
    void pagesAreAsciiOnly()
    {
        QFETCH(QByteArray, target);
        const QByteArray body = demo::routeRequest("GET", target, sampleCatalogue()).body;
        for (const char c : body)
            QVERIFY2(uchar(c) < 0x80, body.constData());
        QVERIFY(!body.contains("<b>"));
    }

    void videoPageNamesStreamAndTitle()
    {
        const auto response = demo::routeRequest("GET", "/video/1002", sampleCatalogue());
        QCOMPARE(response.status, 200);
        QVERIFY(response.body.contains("<meta name=\"stream\" content=\"1002.flv\">"));
        QVERIFY(response.body.contains("<meta name=\"title\" content=\"S&auml;&auml; ja ilmasto\">"));
        QCOMPARE(response.body.count("href=\"/video/"), 0);
    }

    void statusOfRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::newRow("known video") << QByteArray("GET") << QByteArray("/video/1001") << 200;
        QTest::newRow("HEAD of a video") << QByteArray("HEAD") << QByteArray("/video/1001") << 200;
        QTest::newRow("unknown video") << QByteArray("GET") << QByteArray("/video/9999") << 404;
        QTest::newRow("video id with a suffix") << QByteArray("GET") << QByteArray("/video/1001x") << 404;
        QTest::newRow("no video id") << QByteArray("GET") << QByteArray("/video/") << 404;
        QTest::newRow("front page") << QByteArray("GET") << QByteArray("/") << 404;
        QTest::newRow("player") << QByteArray("GET") << QByteArray("/player/Application.swf?build=1") << 404;
        QTest::newRow("search with one slash") << QByteArray("GET") << QByteArray("/haku/uusimmat/hakusana/x/media/video") << 404;
        QTest::newRow("search without its end") << QByteArray("GET") << QByteArray("/haku//uusimmat/hakusana/x") << 404;
        QTest::newRow("POST") << QByteArray("POST") << QByteArray("/video/1001") << 405;
    }
    void statusOfRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QCOMPARE(demo::routeRequest(method, target, sampleCatalogue()).status, status);
    }

    void responseHeaders()
    {
        const demo::HttpResponse response{200, "text/html; charset=ISO-8859-1", "abc"};
        const QByteArray full = demo::serializeResponse(response, false);
        QVERIFY(full.startsWith("HTTP/1.0 200 OK\r\n"));
        QVERIFY(full.contains("\r\nContent-Length: 3\r\n"));
        QVERIFY(full.contains("\r\nConnection: close\r\n"));
        QVERIFY(full.endsWith("\r\n\r\nabc"));
        QVERIFY(demo::serializeResponse(response, true).endsWith("\r\n\r\n"));
    }

    void catalogueParsing_data()
    {
        QTest::addColumn<QByteArray>("tsv");
        QTest::addColumn<int>("videos");
        QTest::newRow("comment and blank lines") << QByteArray("# head\n\n1\tT\tD\t10\ttestsrc\t440\n") << 1;
        QTest::newRow("five fields") << QByteArray("1\tT\tD\t10\ttestsrc\n") << 0;
        QTest::newRow("length not a number") << QByteArray("1\tT\tD\tten\ttestsrc\t440\n") << 0;
        QTest::newRow("letter the pages cannot carry") << QByteArray("1\tT\xc3\xa5\tD\t10\ttestsrc\t440\n") << 0;
        QTest::newRow("id twice") << QByteArray("1\tT\tD\t10\tx\t1\n1\tU\tD\t10\tx\t1\n") << 0;
        QTest::newRow("id with a slash") << QByteArray("a/b\tT\tD\t10\tx\t1\n") << 0;
    }
    void catalogueParsing()
    {
        QFETCH(QByteArray, tsv);
        QFETCH(int, videos);
        QString error;
        QCOMPARE(demo::parseCatalogue(tsv, &error).size(), videos);
        QCOMPARE(error.isEmpty(), videos > 0);
    }

    void shippedCatalogueIsUsable()
    {
        QString error;
        const auto catalogue = demo::loadCatalogue(QStringLiteral(LUMORA_DEMO_CATALOGUE), &error);
        QVERIFY2(catalogue.size() >= 6, qPrintable(error));
        QSet<int> lengths;
        int finnishTitles = 0;
        for (const CatalogueEntry &entry : catalogue) {
            QVERIFY(entry.seconds >= 10 && entry.seconds <= 60);
            lengths.insert(entry.seconds);
            if (entry.title.contains(QRegularExpression(QStringLiteral("[äöÄÖ]"))))
                ++finnishTitles;
        }
        QCOMPARE(lengths.size(), catalogue.size());
        QVERIFY(finnishTitles >= 2);
    }
};

QTEST_GUILESS_MAIN(PortalPagesTest)
#include "tst_portalpages.moc"

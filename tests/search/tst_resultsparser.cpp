#include "external/externalprograms.h"
#include "search/resultsparser.h"

#include <QtTest>

namespace {

QByteArray link(const QByteArray &id, const QByteArray &text)
{
    return "<a href=\"/video/" + id + "\">" + text + "</a>";
}

// One hit in the portal's shape: picture, channel and date links, then the title link.
QByteArray hit(const QByteArray &id, const QByteArray &title, const QByteArray &description)
{
    return "<li class=\"tulos\">" + link(id, "<img src=\"/kuva/" + id + ".jpg\"/>") + link(id, "Kanava")
           + link(id, "12.3.") + link(id, title) + "\n<p>" + description + "</p></li>\n";
}

// One hit in the demo portal's shape: picture, "Katso" and "Lisää" links, the title in a heading.
QByteArray portalHit(const QByteArray &id, const QByteArray &title, const QByteArray &description)
{
    return "<div class=\"hit\">" + link(id, "<img src=\"/thumb/" + id + ".png\">") + link(id, "Katso")
           + link(id, "Lis&auml;&auml;") + "<h3>" + link(id, title) + "</h3><p>" + description + "</p></div>\n";
}

} // namespace

class TestResultsParser : public QObject
{
    Q_OBJECT

private slots:
    void pages_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("rows");

        const QByteArray three = link("1", "a") + link("2", "b") + link("3", "c");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("three markers") << three + "<p>kuvaus</p>" << QStringList();
        QTest::newRow("four markers and a paragraph")
            << three + link("123", "Uutiset") + "<p>P&auml;iv&auml;n uutiset</p>"
            << QStringList{u"<123> Uutiset: Päivän uutiset"_qs};
        QTest::newRow("class attribute") << three + "<a href=\"/video/77\" class=\"otsikko\">S&auml;&auml;</a><p>d</p>"
                                         << QStringList{u"<77> Sää: d"_qs};
        QTest::newRow("title starts with a tag")
            << three + link("5", "<span>Otsikko</span>") + "<p>kuvaus</p>" << QStringList{"<5> : kuvaus"};
        QTest::newRow("no paragraph after the hits") << three + link("4", "d") + link("5", "e") + " loppu"
            << QStringList{"<4> d: >a</a><a href=\"/video/2\">b</a><a href=\"/video/3\">c</a>"
                           "<a href=\"/video/4\">d</a><a href=\"/video/5\">e</a> loppu",
                           "<5> e: >b</a><a href=\"/video/3\">c</a>"
                           "<a href=\"/video/4\">d</a><a href=\"/video/5\">e</a> loppu"};
        QTest::newRow("marker followed by >") << three + "<a href=\"/video/>X</a><p>k</p>" << QStringList{"<> X: k"};
        QTest::newRow("references of each kind")
            << three + link("a&auml;b", "T&ouml;&Ouml; &amp; &#228;&#xE4;&#XC4;&#0000246;")
                   + "<p>&Auml;&amp;auml;&nbsp;&quot;&apos;&lt;b&gt;&aring;&Aring;&ndash;&euro;"
                     "&thetasym;&sup2;&Yuml;&#x1F600;</p>"
            << QStringList{u"<a&auml;b> TöÖ & ääÄö: Ä&auml;\u00a0\"'<b>åÅ–€ϑ²Ÿ😀"_qs};
        // A reference to a letter belongs to the id; one to anything else ends it.
        QTest::newRow("references in an id") << three + link("s&#228;&auml;-8&amp;x=1", "S") + "<p>d</p>"
                                             << QStringList{u"<s&#228;&auml;-8> S: d"_qs};
        QTest::newRow("reference without its &") << three + link("s%C3%A4%auml;", "S") + "<p>d</p>"
                                                 << QStringList{u"<s%C3%A4> S: d"_qs};
        QTest::newRow("references left as written")
            << three + link("1", "&amp tuuli &; &#; &#x; &#xg; &bogus; &AUML; &#0; &#xD800; &#1114112; &")
                   + "<p>S&auml;&auml; &amp; tuuli &&amp;&#99999999999999999999;&thetasyma;&2;</p>"
            << QStringList{u"<1> &amp tuuli &; &#; &#x; &#xg; &bogus; &AUML; &#0; &#xD800; &#1114112; &: "
                           u"Sää & tuuli &&&#99999999999999999999;&thetasyma;&2;"_qs};
        const QStringList finnishRows{u"<sää-8> Sää ja Öljy: Päivän sää"_qs};
        QTest::newRow("UTF-8 page")
            << hit("s\xc3\xa4\xc3\xa4-8", "S\xc3\xa4\xc3\xa4 ja \xc3\x96ljy", "P\xc3\xa4iv\xc3\xa4n s\xc3\xa4\xc3\xa4")
            << finnishRows;
        QTest::newRow("ISO 8859-1 page") << hit("s\xe4\xe4-8", "S\xe4\xe4 ja \xd6ljy", "P\xe4iv\xe4n s\xe4\xe4")
                                         << finnishRows;
        QTest::newRow("UTF-8 beyond Latin-1")
            << hit("9", "Hinta 5 \xe2\x82\xac", "\xe2\x80\x9cLainaus\xe2\x80\x9d \xf0\x9f\x8e\xac")
            << QStringList{u"<9> Hinta 5 €: “Lainaus” 🎬"_qs};
        QTest::newRow("Windows-1252 page") << hit("3", "Jakso 5 \x96 Ty\xf6maa", "\x93Lainaus\x94 \x80 \x81")
                                           << QStringList{u"<3> Jakso 5 – Työmaa: “Lainaus” € \u0081"_qs};
        QTest::newRow("not UTF-8, read byte by byte") << hit("7", "S\xc3\xa4\xe4", "\xc3")
                                                      << QStringList{u"<7> SÃ¤ä: Ã"_qs};
        QTest::newRow("hits, then other video links")
            << "<html><body><ul>\n" + hit("41", "Uutiset", "Aamun uutiset") + hit("42", "S&auml;&auml;", "Ennuste")
                   + "</ul>\n<p class=\"selaus\">" + link("40", "&laquo; Edellinen") + " "
                   + link("43", "Seuraava &raquo;") + "</p>\n</body></html>\n"
            << QStringList{"<41> Uutiset: Aamun uutiset", u"<42> Sää: Ennuste"_qs};
        QTest::newRow("NUL ends the page") << hit("1", "Eka", "yksi") + QByteArray(1, '\0') + hit("2", "Toka", "kaksi")
                                           << QStringList{"<1> Eka: yksi"};
        QTest::newRow("duplicates kept") << hit("6", "Sama", "s").repeated(2) << QStringList{"<6> Sama: s", "<6> Sama: s"};

        QByteArray page = "<html><head><title>Haku</title></head><body><ul>\n";
        QStringList rows;
        for (int i = 0; i < 20; ++i) {
            const QByteArray n = QByteArray::number(1000 + i * 37);
            page += hit(n, "Jakso " + n + " &ndash; Ty&ouml;maa", "Osa " + n + ".");
            rows << u"<%1> Jakso %1 – Työmaa: Osa %1."_qs.arg(QString::fromLatin1(n));
        }
        QTest::newRow("twenty hits") << page + "</ul><p>Sivu 1/3</p></body></html>" << rows;

        // What a hostile portal may send.
        const QByteArray two = portalHit("1", "Yksi", "Eka") + portalHit("2", "Kaksi", "Toka");
        const QStringList twoRows{"<1> Yksi: Eka", "<2> Kaksi: Toka"};
        QByteArray filler;
        while (filler.size() < 20 * 1000 * 1000)
            filler += "<div class=\"mainos\">Katso my&ouml;s n&auml;m&auml;</div>\n";
        QTest::newRow("two hits amid 20 MB") << filler + two + filler << twoRows;
        QTest::newRow("markers cut at the end") << two + "<a href=\"/vid" << twoRows;
        QTest::newRow("marker cut in the last hit") << two + portalHit("3", "Kolme", "x").left(60) << twoRows;
        QTest::newRow("NUL bytes") << two + QByteArray(1, '\0') + portalHit("3", "Kolme", "Piilossa") << twoRows;
        // The id ends at the first character that is no letter, digit, "-" or "_".
        QTest::newRow("second address after ;") << portalHit("1007;http://elsewhere/x", "Vieras", "v")
                                                << QStringList{"<1007> Vieras: v"};
        QTest::newRow("blank, tab and line break in ids")
            << portalHit("12 http://x", "A", "a") + portalHit("13\thttp://x", "B", "b")
                   + portalHit("14\r\nhttp://x", "C", "c") << QStringList{"<12> A: a", "<13> B: b", "<14> C: c"};
        QTest::newRow("query and path in an id")
            << portalHit("15?x=/../1", "D", "d") + portalHit("a-b_C9/../../x", "E", "e")
            << QStringList{"<15> D: d", "<a-b_C9> E: e"};
        QTest::newRow("letters with combining marks and beyond the BMP")
            << portalHit("sa\xcc\x88" "a\xcc\x88-\xf0\x9d\x90\x80", "S", "s")
            << QStringList{u"<sa\u0308a\u0308-\U0001D400> S: s"_qs};
        // A link may percent-encode its id's letters; the address keeps it as the page wrote it.
        QTest::newRow("percent-encoded id") << portalHit("s%C3%A4%C3%A4-8", "S", "s") + portalHit("9%3B%2", "N", "n")
                                            << QStringList{"<s%C3%A4%C3%A4-8> S: s", "<9%3B> N: n"};
        QTest::newRow("UTF-8 and Latin-1 mixed") << portalHit("7", "S\xc3\xa4\xc3\xa4", "\xd6inen pakkanen")
                                                 << QStringList{u"<7> SÃ¤Ã¤: Öinen pakkanen"_qs};
    }

    void pages()
    {
        QFETCH(QByteArray, page);
        QTEST(parseResultsPage(resultsPageText(page)), "rows");
    }

    // Pages stitched from the pieces the scan looks for, so that every odd
    // combination of missing, doubled and overlapping markers and references comes
    // up; checked against what holds for any page.
    void randomPagesKeepTheRules()
    {
        const QStringList pieces{"href=\"/video/", "href=\"/video/", "href=\"/video/", "<a ", ">", "<",
                                 "<p>", "</p>", "p>", "&auml;", "&Ouml;", "&amp;", "&#228;", "&#xE4;",
                                 "&", "#", ";", "7", "x", "\"", " ", "ä", "\n", "-"};
        static const QRegularExpression rowStart(QStringLiteral("^<((?:[\\p{L}\\p{M}\\p{Nd}_-]|&#?\\w+;)*)> "));
        QRandomGenerator random(20240611);
        for (int round = 0; round < 3000; ++round) {
            QString page;
            const int length = random.bounded(90);
            for (int i = 0; i < length; ++i)
                page += pieces.at(random.bounded(pieces.size()));
            const QStringList rows = parseResultsPage(page);
            // A row takes four markers, and a marker opens at most one row's run of four.
            QVERIFY2(rows.size() <= qMax(0, int(page.count(QStringLiteral("href=\"/video/"))) - 3), qPrintable(page));
            for (const QString &row : rows) {
                const QRegularExpressionMatch id = rowStart.match(row);
                QVERIFY2(id.hasMatch(), qPrintable(row));
                QVERIFY2(page.contains(QStringLiteral("href=\"/video/") + id.captured(1)), qPrintable(row));
                // Nothing a page holds can add a second address to the field.
                QVERIFY2(!videoAddress(row).contains(QRegularExpression(QStringLiteral("[;\\s]"))), qPrintable(row));
            }
        }
    }

    void rowsStayShortWithoutParagraphs()
    {
        // Without paragraph ends every description would run to the end of the page.
        QByteArray page;
        for (int i = 0; i < 600; ++i)
            page += link(QByteArray::number(i), "Jakso") + QByteArray(300, 'x');
        const QStringList rows = parseResultsPage(QString::fromLatin1(page));
        QCOMPARE(rows.size(), 597);
        for (int i = 0; i < rows.size(); ++i) {
            const QString start = QStringLiteral("<%1> Jakso: ").arg(i + 3);
            QVERIFY2(rows.at(i).startsWith(start), qPrintable(rows.at(i).left(40)));
            QVERIFY(rows.at(i).size() <= start.size() + 1000);
        }
    }

    void pagesOfMarkersStayBounded()
    {
        // Every 13 characters start a hit whose parts run on to the end of the page.
        const QByteArray markers = QByteArray("href=\"/video/").repeated(20 * 1000 * 1000 / 13);
        const QStringList rows = parseResultsPage(resultsPageText(markers));
        QVERIFY(!rows.isEmpty());
        qsizetype rowText = 0;
        for (const QString &row : rows)
            rowText += row.size();
        QVERIFY2(rowText <= 2 * markers.size() + 1024 * 1024 + 3005, qPrintable(QString::number(rowText)));
    }

    void videoAddresses_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("id");

        QTest::newRow("result row") << u"<123> Uutiset: Päivän uutiset"_qs << "123";
        QTest::newRow("class attribute") << "<77\" class=\"otsikko> S: d" << "77\" class=\"otsikko";
        QTest::newRow("empty id") << "<> X: k" << "";
        QTest::newRow("no >") << u"Haku käynnissä.."_qs << u"aku käynnissä.."_qs;
        QTest::newRow("references in the id") << u"<s&#228;&auml;-8> S: d"_qs << u"sää-8"_qs;
    }

    void videoAddresses()
    {
        QFETCH(QString, entry);
        QFETCH(QString, id);

        QCOMPARE(videoAddress(entry), external::portalUrl() + "/video/" + id);
    }
};

QTEST_APPLESS_MAIN(TestResultsParser)
#include "tst_resultsparser.moc"

// Search words the user may type, through the real wget to a loopback server
// on the portal's address. Hostile results pages are rows of tst_resultsparser.
#include "external/externalprograms.h"
#include "loopbackhttpserver.h"
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

} // namespace

class TestHostileSearch : public QObject
{
    Q_OBJECT

private slots:
    void words_data();
    void words();
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
    server.setPage(target, "<a href=\"/video/5\">a</a><a href=\"/video/5\">b</a><a href=\"/video/5\">c</a>"
                           "<a href=\"/video/5\">Osuma</a><p>Kuvaus</p>");
    QLineEdit url;
    searchWindow dialog(nullptr, word, &url);
    dialog.runSearch();
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("list"));
    QTRY_COMPARE_WITH_TIMEOUT(list->count() == 1 ? list->item(0)->text() : QString(),
                              QStringLiteral("<5> Osuma: Kuvaus"), Patience);
    QCOMPARE(server.targets(), QByteArrayList{target});
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/lumora-hijacked")));
}

QTEST_MAIN(TestHostileSearch)
#include "tst_hostilesearch.moc"

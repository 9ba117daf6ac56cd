// Search words the user may type, through the real wget to a loopback server
// on the portal's address. Hostile results pages are rows of tst_resultsparser.
#include "portalsearch.h"

#include <QtTest>

class TestHostileSearch : public QObject
{
    Q_OBJECT

private slots:
    void words_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QByteArray>("target"); // empty: wget is not run
        QTest::addColumn<QStringList>("rows");

        const QStringList found = resultRows({"5"});
        QTest::newRow("10,000 characters") << QString(10000, u'a') << searchTarget(QByteArray(10000, 'a')) << found;
        QTest::newRow("non-ASCII") << u"sää öisin"_qs << searchTarget("s%C3%A4%C3%A4%20%C3%B6isin") << found;
        QTest::newRow("output option") << "--output-document=/tmp/lumora-hijacked"
                                       << searchTarget("--output-document%3D%2Ftmp%2Flumora-hijacked") << found;
        QTest::newRow("execute option") << "-e robots=off" << searchTarget("-e%20robots%3Doff") << found;
        QTest::newRow("a path up") << "../../video/1" << searchTarget("..%2F..%2Fvideo%2F1") << found;
        // Percent-encoded, a field full of "ä" is past what one program argument may hold.
        QTest::newRow("too long for one argument") << QString(30000, u'ä') << QByteArray()
                                                   << QStringList{u"Haku epäonnistui: hakusana on liian pitkä"_qs};
    }

    // The word is part of the one address wget fetches: it never becomes an
    // option, and wget writes nothing but the page to its standard output.
    void words()
    {
        QFETCH(QString, word);
        QFETCH(QByteArray, target);
        QFETCH(QStringList, rows);
        verifySearchAsks(word, target, rows);
    }
};

QTEST_MAIN(TestHostileSearch)
#include "tst_hostilesearch.moc"

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
    void words()
    {
        QFETCH(QString, word);
        QFETCH(QByteArray, target);
        verifySearchAsks(word, target);
    }
};

QTEST_MAIN(TestHostileSearch)
#include "tst_hostilesearch.moc"

#include "download/outputparser.h"
#include "external/externalprograms.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

using outputparser::State;

namespace {

// Feeds reads as a job does: each read is cut at its first NUL, appended, scanned.
bool feed(State &state, const QByteArrayList &reads, int phase)
{
    bool metCarriageReturn = false;
    for (const QByteArray &read : reads) {
        state.output += external::childText(read);
        metCarriageReturn = phase == 1 ? outputparser::scanFetching(state)
                                       : outputparser::scanFinishing(state);
    }
    return metCarriageReturn;
}

// The rules as first written down: every poll walks the whole output from its
// start, and each carriage return searches the whole remaining output again.
bool referenceScan(State &state, int phase)
{
    QString line;
    bool metCarriageReturn = false;
    for (qsizetype i = 0; i < state.output.size(); ++i) {
        if (state.output.at(i) != u'\r') {
            line += state.output.at(i);
            continue;
        }
        metCarriageReturn = true;
        if (phase == 2) {
            state.duration = outputparser::lineDuration(line, state.duration);
            state.percent2 = outputparser::linePercent2(line, state.duration, state.percent2);
            continue;
        }
        state.percent1 = outputparser::linePercentage(line, state.percent1);
        const qsizetype s = state.output.indexOf(QLatin1String("Saving to"), 0, Qt::CaseInsensitive);
        if (s >= 0)
            state.baseName = state.output.mid(s + 10, state.output.indexOf(u'\n', s) - s - 13);
        line.clear();
        state.output.remove(0, i);
        i = 0;
    }
    return metCarriageReturn;
}

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(LUMORA_TEST_DATA_DIR "/fixtures/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestOutputParser : public QObject
{
    Q_OBJECT

private slots:
    void fetching_data();
    void fetching();
    void finishing_data();
    void finishing();
    void clockRises();
    void sameAsReference_data();
    void sameAsReference();
};

void TestOutputParser::fetching_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<int>("percent1");
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error"); // what the end test finds when the child ends here

    // percent1 starts at 7 and baseName at "old." in every row.
    QTest::newRow("percentage") << QByteArrayList{"1234.567 kB / 12.34 sec (12.7%)\r"} << 12 << "old." << "\r" << QString();
    QTest::newRow("no parenthesis") << QByteArrayList{"12.7%\r"} << 7 << "old." << "\r" << QString();
    QTest::newRow("last group counts") << QByteArrayList{"(10.0%) of (20.5%)\r"} << 20 << "old." << "\r" << QString();
    QTest::newRow("first percent after parenthesis") << QByteArrayList{"(12%5%)\r"} << 12 << "old." << "\r" << QString();
    QTest::newRow("not a number") << QByteArrayList{"(abc%)\r"} << 0 << "old." << "\r" << QString();
    QTest::newRow("line waits for its carriage return") << QByteArrayList{"(50.0%)"} << 7 << "old." << "(50.0%)" << QString();
    QTest::newRow("line split across reads") << QByteArrayList{"12 kB (4", "5.6%)\r"} << 45 << "old." << "\r" << QString();
    QTest::newRow("kept carriage return") << QByteArrayList{"(5.0%)\rabc"} << 5 << "old." << "\rabc" << QString();
    QTest::newRow("NUL cuts a read") << QByteArrayList{QByteArray("(3\0zz", 5), "5.0%)\r"} << 35 << "old." << "\r" << QString();
    QTest::newRow("save line") << QByteArrayList{"Saving to clip.flv\n\r"} << 7 << "clip." << "\r" << QString();
    QTest::newRow("blank after separator")
        << QByteArrayList{"Saving to: clip.flv\n\r"} << 7 << " clip." << "\r" << QString();
    QTest::newRow("lower case") << QByteArrayList{"saving to clip.flv\n\r"} << 7 << "clip." << "\r" << QString();
    QTest::newRow("bytes stay bytes") << QByteArrayList{"Saving to S\xc3\xa4.flv\n\r"} << 7
                                      << QString::fromLatin1("S\xc3\xa4.") << "\r" << QString();
    QTest::newRow("marker split across reads")
        << QByteArrayList{"(1.0%)\rSav", "ing to clip.flv\n(2.0%)"} << 1 << "clip." << "\rSaving to clip.flv\n(2.0%)" << QString();
    QTest::newRow("unfinished name is provisional")
        << QByteArrayList{"x\rSaving to cl"} << 7 << "cl" << "\rSaving to cl" << QString();
    QTest::newRow("line feed arrives later")
        << QByteArrayList{"x\rSaving to cl", "ip.flv\n(3.0%)\r"} << 3 << "clip." << "\r" << QString();
    QTest::newRow("error in last lines")
        << QByteArrayList{"(20.0%)\rERROR: failed\nbye\n"} << 20 << "old." << "\rERROR: failed\nbye\n"
        << "ERROR: failed\nbye\n";
    QTest::newRow("error followed by progress")
        << QByteArrayList{"ERROR: transient\n(5.0%)\r(6.0%)"} << 5 << "old." << "\r(6.0%)"
        << "ERROR: transient\n(5.0%)\r(6.0%)";
    QTest::newRow("first of two dropped errors counts")
        << QByteArrayList{"ERROR: a\n(1.0%)\r", "ERROR: b\n(2.0%)\r(3.0%)"} << 2 << "old." << "\r(3.0%)"
        << "ERROR: a\n(1.0%)\r(3.0%)";
    QTest::newRow("dropped ERROR inside a line is no error")
        << QByteArrayList{"x ERROR\n(5.0%)\r"} << 5 << "old." << "\r" << QString();
    QTest::newRow("error in other letter case") << QByteArrayList{"Error: x\n"} << 7 << "old." << "Error: x\n" << QString();
    QTest::newRow("error at the very start") << QByteArrayList{"ERROR: x\n"} << 7 << "old." << "ERROR: x\n" << "ERROR: x\n";
    QTest::newRow("ERROR inside a title is no error")
        << QByteArrayList{"Saving to ERROR 404.flv\n(1.0%)\rdone ERROR\n"} << 1 << "ERROR 404." << "\rdone ERROR\n" << QString();
    QTest::newRow("marker after a title that holds it")
        << QByteArrayList{"(2.0%)\rx ERROR y\nERROR: real\n"} << 2 << "old." << "\rx ERROR y\nERROR: real\n" << "ERROR: real\n";
}

void TestOutputParser::fetching()
{
    QFETCH(QByteArrayList, reads);
    State state;
    state.percent1 = 7;
    state.baseName = QStringLiteral("old.");
    feed(state, reads, 1);
    QTEST(state.percent1, "percent1");
    QTEST(state.baseName, "baseName");
    QTEST(state.output, "output");
    QFETCH(QString, error);
    QCOMPARE(outputparser::endTest(state).isNull(), error.isNull());
    QCOMPARE(outputparser::endTest(state), error);
    // The kept carriage return is met again by the next poll, even without new text.
    QCOMPARE(feed(state, {QByteArray()}, 1), state.output.startsWith(u'\r'));
}

void TestOutputParser::finishing_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("percent2");

    // percent2 starts at 7 in every row.
    QTest::newRow("duration") << QByteArrayList{"  Duration: 00:01:30.52, start\r"} << 90 << 7;
    QTest::newRow("no digits") << QByteArrayList{"Duration: N/A, start\r"} << 0 << 7;
    QTest::newRow("time") << QByteArrayList{"Duration: 00:01:30.00\nframe= time=45.00 bitrate\r"} << 90 << 50;
    QTest::newRow("time to end of line") << QByteArrayList{"Duration: 00:00:10\ntime=5\r"} << 10 << 50;
    QTest::newRow("time without duration") << QByteArrayList{"time=45.00 \r"} << 0 << 7;
    QTest::newRow("newest time counts")
        << QByteArrayList{"Duration: 00:01:40\ntime=10.00 \r", "time=50.00 \r"} << 100 << 50;
    QTest::newRow("marker split across reads")
        << QByteArrayList{"Durat", "ion: 00:01:40\n time=50.00 \r"} << 100 << 50;
    QTest::newRow("carriage return inside a marker")
        << QByteArrayList{"Dura\rtion: 00:00:10 time=5 \r"} << 10 << 50;
    QTest::newRow("clock time") << QByteArrayList{"Duration: 00:00:30.02\ntime=00:00:15.00 \r"} << 30 << 50;
    QTest::newRow("clock past an hour") << QByteArrayList{"Duration: 02:00:00.00\ntime=01:30:00.00 \r"} << 7200 << 75;
    QTest::newRow("no time yet") << QByteArrayList{"Duration: 00:00:30.02\ntime=N/A \r"} << 30 << 7;
    QTest::newRow("before zero") << QByteArrayList{"Duration: 00:00:30\ntime=-00:00:00.03 \r"} << 30 << 0;
    QTest::newRow("past the whole seconds") << QByteArrayList{"Duration: 00:00:30.02\ntime=00:00:30.02 \r"}
                                            << 30 << 100;
}

void TestOutputParser::finishing()
{
    QFETCH(QByteArrayList, reads);
    State state;
    state.percent2 = 7;
    feed(state, reads, 2);
    QTEST(state.duration, "duration");
    QTEST(state.percent2, "percent2");
}

// Real ffmpeg 5.1 output read as it arrives: the percentage follows its clock.
void TestOutputParser::clockRises()
{
    const QByteArray text = fixture("ffmpeg-stream-copy-realtime.txt");
    QVERIFY(text.contains("time=00:00:"));
    State state;
    QList<int> seen;
    for (qsizetype at = 0; at < text.size(); at += 200) {
        feed(state, {text.mid(at, 200)}, 2);
        if (seen.isEmpty() || seen.last() != state.percent2)
            seen << state.percent2;
    }
    QCOMPARE(state.duration, 30);
    QVERIFY2(seen.size() > 30, qPrintable(QString::number(seen.size())));
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    // The last progress line ends in a line feed; the job's done report says 100.
    QCOMPARE(seen.last(), 99);
}

void TestOutputParser::sameAsReference_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<QByteArray>("text");

    const QByteArray fetcher = fixture("fetcher-demo-portal.txt");
    QTest::newRow("fetcher") << 1 << fetcher;
    QTest::newRow("fetcher, names and errors")
        << 1 << "ERROR: x\nsaving to a.flv\n(1.0%)\r(2.0%)\rSAVING TO b.flv\r\n" + fetcher + "Saving to c";
    QByteArray realtime = fixture("ffmpeg-stream-copy-realtime.txt");
    QTest::newRow("converter") << 2 << fixture("ffmpeg-stream-copy.txt");
    QTest::newRow("converter, realtime") << 2 << realtime;
    // Times as plain seconds give the percentage something to compute.
    QTest::newRow("converter, seconds")
        << 2 << QString::fromLatin1(realtime)
                    .replace(QRegularExpression(QStringLiteral("time=00:00:")), QStringLiteral("time="))
                    .toLatin1();
}

void TestOutputParser::sameAsReference()
{
    QFETCH(int, phase);
    QFETCH(QByteArray, text);
    QVERIFY(text.size() > 1000);
    for (const int readSize : {1, 7, 64, 333, 4096}) {
        State fast;
        State reference;
        for (qsizetype at = 0; at < text.size(); at += readSize) {
            const QString read = external::childText(text.mid(at, readSize));
            fast.output += read;
            reference.output += read;
            const bool fastMet = phase == 1 ? outputparser::scanFetching(fast) : outputparser::scanFinishing(fast);
            QCOMPARE(fastMet, referenceScan(reference, phase));
            QCOMPARE(fast.output, reference.output);
            QCOMPARE(fast.percent1, reference.percent1);
            QCOMPARE(fast.baseName, reference.baseName);
            QCOMPARE(fast.duration, reference.duration);
            QCOMPARE(fast.percent2, reference.percent2);
        }
    }
}

QTEST_GUILESS_MAIN(TestOutputParser)
#include "tst_outputparser.moc"

#include "download/outputparser.h"
#include "external/externalprograms.h"
#include "testfiles.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <tuple>

using outputparser::State;
using Reads = QByteArrayList;

namespace {

// Feeds reads as a job does: each read is cut at its first NUL, appended, scanned.
bool feed(State &state, const QByteArrayList &reads, int phase)
{
    bool metCarriageReturn = false;
    for (const QByteArray &read : reads) {
        state.output += external::childText(read);
        metCarriageReturn = phase == 1 ? outputparser::scanFetching(state) : outputparser::scanFinishing(state);
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
        static const QRegularExpression saveLine(QStringLiteral("(?:^|(?<=[\r\n]))saving to"),
                                                 QRegularExpression::CaseInsensitiveOption);
        const qsizetype s = state.output.indexOf(saveLine);
        if (s >= 0)
            state.baseName = state.output.mid(s + 10, state.output.indexOf(u'\n', s) - s - 13);
        line.clear();
        state.output.remove(0, i);
        i = 0;
    }
    return metCarriageReturn;
}

// What a scan leaves that the job reads.
auto seen(const State &state)
{
    return std::tuple(state.output, state.percent1, state.baseName, state.duration, state.percent2);
}

QByteArray fixture(const char *name)
{
    return readFile(QStringLiteral(LUMORA_TEST_DATA_DIR "/fixtures/") + QLatin1String(name));
}

} // namespace

class TestOutputParser : public QObject
{
    Q_OBJECT

private slots:
    void fetching_data()
    {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<int>("percent1");
        QTest::addColumn<QString>("baseName");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error"); // what the end test finds when the child ends here

        // percent1 starts at 7 and baseName at "old." in every row.
        const QString none;
        QTest::newRow("percentage") << Reads{"1234.567 kB / 12.34 sec (12.7%)\r"} << 12 << "old." << "\r" << none;
        QTest::newRow("no parenthesis") << Reads{"12.7%\r"} << 7 << "old." << "\r" << none;
        QTest::newRow("last group counts") << Reads{"(10.0%) of (20.5%)\r"} << 20 << "old." << "\r" << none;
        QTest::newRow("first percent after parenthesis") << Reads{"(12%5%)\r"} << 12 << "old." << "\r" << none;
        QTest::newRow("not a number") << Reads{"(abc%)\r"} << 0 << "old." << "\r" << none;
        QTest::newRow("line waits for its carriage return") << Reads{"(50.0%)"} << 7 << "old." << "(50.0%)" << none;
        QTest::newRow("line split across reads") << Reads{"12 kB (4", "5.6%)\r"} << 45 << "old." << "\r" << none;
        QTest::newRow("kept carriage return") << Reads{"(5.0%)\rabc"} << 5 << "old." << "\rabc" << none;
        QTest::newRow("NUL cuts a read") << Reads{QByteArray("(3\0zz", 5), "5.0%)\r"} << 35 << "old." << "\r" << none;
        QTest::newRow("save line") << Reads{"Saving to clip.flv\n\r"} << 7 << "clip." << "\r" << none;
        QTest::newRow("blank after separator") << Reads{"Saving to: clip.flv\n\r"} << 7 << " clip." << "\r" << none;
        QTest::newRow("lower case") << Reads{"saving to clip.flv\n\r"} << 7 << "clip." << "\r" << none;
        QTest::newRow("bytes stay bytes")
            << Reads{"Saving to S\xc3\xa4.flv\n\r"} << 7 << QString::fromLatin1("S\xc3\xa4.") << "\r" << none;
        QTest::newRow("marker split across reads") << Reads{"(1.0%)\rSav", "ing to clip.flv\n(2.0%)"} << 1 << "clip."
                                                   << "\rSaving to clip.flv\n(2.0%)" << none;
        QTest::newRow("unfinished name is provisional")
            << Reads{"x\rSaving to cl"} << 7 << "cl" << "\rSaving to cl" << none;
        QTest::newRow("line feed arrives later")
            << Reads{"x\rSaving to cl", "ip.flv\n(3.0%)\r"} << 3 << "clip." << "\r" << none;
        // The fetcher prints the stream's metadata, a title among it, again after a resume.
        QTest::newRow("marker inside a later line is no save line")
            << Reads{"Saving to clip.flv\n(1.0%)\r", "  title                 Saving to Survive\n(2.0%)\r"} << 2
            << "clip." << "\r" << none;
        QTest::newRow("error in last lines") << Reads{"(20.0%)\rERROR: failed\nbye\n"} << 20 << "old."
                                             << "\rERROR: failed\nbye\n" << "ERROR: failed\nbye\n";
        QTest::newRow("error followed by progress") << Reads{"ERROR: transient\n(5.0%)\r(6.0%)"} << 5 << "old."
                                                    << "\r(6.0%)" << "ERROR: transient\n(5.0%)\r(6.0%)";
        QTest::newRow("first of two dropped errors counts") << Reads{"ERROR: a\n(1.0%)\r", "ERROR: b\n(2.0%)\r(3.0%)"}
                                                            << 2 << "old." << "\r(3.0%)" << "ERROR: a\n(1.0%)\r(3.0%)";
        QTest::newRow("dropped ERROR inside a line is no error")
            << Reads{"x ERROR\n(5.0%)\r"} << 5 << "old." << "\r" << none;
        QTest::newRow("error in other letter case") << Reads{"Error: x\n"} << 7 << "old." << "Error: x\n" << none;
        QTest::newRow("error at the very start") << Reads{"ERROR: x\n"} << 7 << "old." << "ERROR: x\n" << "ERROR: x\n";
        QTest::newRow("ERROR inside a title is no error") << Reads{"Saving to ERROR 404.flv\n(1.0%)\rdone ERROR\n"} << 1
                                                          << "ERROR 404." << "\rdone ERROR\n" << none;
        QTest::newRow("marker after a title that holds it") << Reads{"(2.0%)\rx ERROR y\nERROR: real\n"} << 2 << "old."
                                                            << "\rx ERROR y\nERROR: real\n" << "ERROR: real\n";
    }

    void fetching()
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

    void finishing_data()
    {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<int>("duration");
        QTest::addColumn<int>("percent2");

        // percent2 starts at 7 in every row.
        QTest::newRow("duration") << Reads{"  Duration: 00:01:30.52, start\r"} << 90 << 7;
        QTest::newRow("no digits") << Reads{"Duration: N/A, start\r"} << 0 << 7;
        QTest::newRow("time") << Reads{"Duration: 00:01:30.00\nframe= time=45.00 bitrate\r"} << 90 << 50;
        QTest::newRow("time to end of line") << Reads{"Duration: 00:00:10\ntime=5\r"} << 10 << 50;
        QTest::newRow("time without duration") << Reads{"time=45.00 \r"} << 0 << 7;
        QTest::newRow("newest time counts") << Reads{"Duration: 00:01:40\ntime=10.00 \r", "time=50.00 \r"} << 100 << 50;
        QTest::newRow("marker split across reads") << Reads{"Durat", "ion: 00:01:40\n time=50.00 \r"} << 100 << 50;
        QTest::newRow("carriage return inside a marker") << Reads{"Dura\rtion: 00:00:10 time=5 \r"} << 10 << 50;
        // 0.70 s has no exact binary form; it is still 7 % of 10 s.
        QTest::newRow("hundredths without a binary form") << Reads{"Duration: 00:00:10\ntime=0.70 \r"} << 10 << 7;
        QTest::newRow("clock time") << Reads{"Duration: 00:00:30.02\ntime=00:00:15.00 \r"} << 30 << 50;
        QTest::newRow("clock past an hour") << Reads{"Duration: 02:00:00.00\ntime=01:30:00.00 \r"} << 7200 << 75;
        QTest::newRow("no time yet") << Reads{"Duration: 00:00:30.02\ntime=N/A \r"} << 30 << 7;
        QTest::newRow("before zero") << Reads{"Duration: 00:00:30\ntime=-00:00:00.03 \r"} << 30 << 0;
        QTest::newRow("past the whole seconds") << Reads{"Duration: 00:00:30.02\ntime=00:00:30.02 \r"} << 30 << 100;
    }

    void finishing()
    {
        QFETCH(QByteArrayList, reads);
        State state;
        state.percent2 = 7;
        feed(state, reads, 2);
        QTEST(state.duration, "duration");
        QTEST(state.percent2, "percent2");
    }

    // Real ffmpeg 5.1 output read as it arrives: the percentage follows its clock.
    void clockRises()
    {
        const QByteArray text = fixture("ffmpeg-stream-copy-realtime.txt");
        QVERIFY(text.contains("time=00:00:"));
        State state;
        QList<int> percents;
        for (qsizetype at = 0; at < text.size(); at += 200) {
            feed(state, {text.mid(at, 200)}, 2);
            if (percents.isEmpty() || percents.last() != state.percent2)
                percents << state.percent2;
        }
        QCOMPARE(state.duration, 30);
        QVERIFY2(percents.size() > 30, qPrintable(QString::number(percents.size())));
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        // The last progress line ends in a line feed; the job's done report says 100.
        QCOMPARE(percents.last(), 99);
    }

    void sameAsReference_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QByteArray>("text");

        const QByteArray fetcher = fixture("fetcher-demo-portal.txt");
        QTest::newRow("fetcher") << 1 << fetcher;
        QTest::newRow("fetcher, names and errors")
            << 1 << "ERROR: x\nsaving to a.flv\n(1.0%)\r(2.0%)\r  title Saving to x\nSAVING TO b.flv\r\n" + fetcher + "Saving to c";
        const QByteArray realtime = fixture("ffmpeg-stream-copy-realtime.txt");
        QTest::newRow("converter") << 2 << fixture("ffmpeg-stream-copy.txt");
        QTest::newRow("converter, realtime") << 2 << realtime;
        // Times as plain seconds give the percentage something to compute.
        QTest::newRow("converter, seconds") << 2 << QByteArray(realtime).replace("time=00:00:", "time=");
    }

    void sameAsReference()
    {
        QFETCH(int, phase);
        QFETCH(QByteArray, text);
        QVERIFY(text.size() > 1000);
        for (const int readSize : {1, 7, 64, 333, 4096}) {
            State fast;
            State reference;
            for (qsizetype at = 0; at < text.size(); at += readSize) {
                const QByteArray read = text.mid(at, readSize);
                reference.output += external::childText(read);
                QCOMPARE(feed(fast, {read}, phase), referenceScan(reference, phase));
                QCOMPARE(seen(fast), seen(reference));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestOutputParser)
#include "tst_outputparser.moc"

// The stand-in's pieces that need no server: FLV splicing for resume, the
// stderr relay, option checking and the file name made from a title.
#include "flvtags.h"
#include "options.h"
#include "stderrrelay.h"
#include "videopage.h"

#include <QtTest>

namespace {

QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xff);
    return out;
}

QByteArray tag(quint8 type, quint32 ms, const QByteArray &body)
{
    return char(type) + bigEndian(quint32(body.size()), 3) + bigEndian(ms & 0xffffff, 3)
        + char(ms >> 24) + QByteArray(3, '\0') + body + bigEndian(quint32(11 + body.size()), 4);
}

const QByteArray flvHeader("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13);

QByteArray keyframeBody(quint32 ms)
{
    return QByteArray("\x17\x01\0\0\0", 5) + QByteArray(40, char('a' + ms / 1000));
}

QByteArray keyframe(quint32 ms)
{
    return tag(9, ms, keyframeBody(ms));
}

// A keyframe each second, a frame each 200 ms, audio each 100 ms, in timestamp
// order as ffmpeg writes them; `shift` is what rtmpdump adds after a seek.
QByteArray mediaTags(quint32 fromMs, quint32 toMs, quint32 shift = 0)
{
    QByteArray out;
    for (quint32 ms = fromMs; ms < toMs; ms += 100) {
        if (ms % 1000 == 0)
            out += tag(9, ms + shift, keyframeBody(ms));
        else if (ms % 200 == 0)
            out += tag(9, ms + shift, QByteArray("\x27\x01\0\0\0", 5) + QByteArray::number(ms));
        out += tag(8, ms + shift, "\xaf\x01" + QByteArray::number(ms));
    }
    return out;
}

QByteArray wholeVideo()
{
    return flvHeader + tag(18, 0, "onMetaData") + tag(9, 0, QByteArray("\x17\x00\0\0\0cfg", 8))
        + mediaTags(0, 5000);
}

} // namespace

class StandinPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void resumePoint()
    {
        const QByteArray video = wholeVideo();
        const QByteArray midAudio = video.left(video.indexOf(tag(8, 3300, "\xaf\x01" "3300")) + 5);
        QCOMPARE(standin::scanFlvTags(midAudio).last().timestamp, 3200u); // the cut tag is left out
        const auto point = standin::findResumePoint(midAudio);
        QVERIFY(point.valid);
        QCOMPARE(point.timestamp, 3000u);
        QCOMPARE(point.cut, video.indexOf(keyframe(3000)));
        // Resuming at zero would ask the server for a negative time: start over instead.
        QVERIFY(!standin::findResumePoint(video.left(video.indexOf(keyframe(1000)))).valid);
    }

    // The server seeks to the keyframe and rtmpdump shifts every timestamp by its
    // start time; the spliced file must be exactly the uninterrupted one.
    void spliceRebuildsTheWholeFile_data()
    {
        QTest::addColumn<quint32>("interruptAtMs");
        QTest::addColumn<quint32>("continuationFromMs");
        QTest::newRow("continuation starts at the keyframe") << 2500u << 2000u;
        QTest::newRow("server sends earlier tags too") << 2500u << 1000u;
        QTest::newRow("interrupted right after a keyframe") << 4000u << 4000u;
    }
    void spliceRebuildsTheWholeFile()
    {
        QFETCH(quint32, interruptAtMs);
        QFETCH(quint32, continuationFromMs);
        const QByteArray video = wholeVideo();
        const auto point = standin::findResumePoint(
            video.left(video.indexOf(tag(8, interruptAtMs, "\xaf\x01" + QByteArray::number(interruptAtMs))) + 7));
        QByteArray kept = video.left(point.cut);
        const quint32 shift = point.timestamp - 1;
        QVERIFY(standin::appendContinuation(
            &kept, point, flvHeader + tag(18, shift, "onMetaData") + mediaTags(continuationFromMs, 5000, shift)));
        QVERIFY(kept == video);

        kept = video.left(point.cut);
        const QByteArray elsewhere = flvHeader + mediaTags(point.timestamp + 1000, 5000, shift);
        QVERIFY(!standin::appendContinuation(&kept, point, elsewhere));
    }

    void durationBecomesTheLastTagsTime()
    {
        const QByteArray meta = QByteArray("\x02\x00\x0a" "onMetaData" "\x08\0\0\0\x01", 18)
            + QByteArray("\x00\x08" "duration" "\x00\x40\x14\0\0\0\0\0\0" "\x00\x00\x09", 22);
        QByteArray video = flvHeader + tag(18, 0, meta) + mediaTags(0, 5000);
        QCOMPARE(standin::metadataDuration(video), 5.0);
        QVERIFY(standin::setDurationToLastTag(&video));
        QCOMPARE(standin::metadataDuration(video), 4.9);
        QByteArray withoutDuration = wholeVideo();
        QVERIFY(!standin::setDurationToLastTag(&withoutDuration));
    }

    void relayPassesBytesButHoldsErrors()
    {
        const QByteArray text = "Connecting ...\n\r1.0 kB / 0.10 sec (1.0%)\r2.0 kB / 0.20 sec (2.0%)\n"
                                "ERROR: RTMP_ReadPacket failed\nDownload may be incomplete\n";
        for (const bool resuming : {false, true}) {
            standin::StderrRelay relay;
            QByteArray out;
            for (qsizetype i = 0; i < text.size(); i += 7)
                out += relay.feed(text.mid(i, 7));
            QCOMPARE(out, QByteArray(text).replace("ERROR: RTMP_ReadPacket failed\n", ""));
            QCOMPARE(relay.finishAttempt(resuming),
                     resuming ? QByteArray("WARNING: RTMP_ReadPacket failed\n")
                              : QByteArray("ERROR: RTMP_ReadPacket failed\n"));
        }
    }

    void relayCountsContinuationFromTheStart()
    {
        standin::StderrRelay relay;
        relay.feed("INFO:   duration              30.08\n");
        relay.continueFrom(100 * 1024, 9.999);
        QCOMPARE(relay.feed("\r4.000 kB / 19.999 sec (66.5%)\r"),
                 QByteArray("\r104.000 kB / 10.00 sec (33.2%)\r"));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("accepted");
        const QStringList full{"--rtmp", "rtmp://127.0.0.1:1/App", "--swfUrl", "http://h/p.swf?build=1",
                               "--timeout", "60", "--autoResume", "5", "--pageUrl", "http://h/video/1"};
        QTest::newRow("what the downloader passes") << full << true;
        QTest::newRow("unknown option") << (QStringList(full) << "--live" << "1") << false;
        QTest::newRow("timeout not a number") << QStringList{"--rtmp", "rtmp://h/a", "--timeout", "x", "--pageUrl", "http://h/v/1"} << false;
        QTest::newRow("no page") << QStringList{"--rtmp", "rtmp://h/a"} << false;
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, accepted);
        standin::Options options;
        QCOMPARE(standin::parseOptions(arguments, &options).isEmpty(), accepted);
        QCOMPARE(options.autoResume, accepted ? 5 : options.autoResume);
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("Finnish letters kept") << QStringLiteral("Päivän Öljy") << QStringLiteral("Päivän Öljy.flv");
        QTest::newRow("slash") << QStringLiteral("Sää 1/2") << QStringLiteral("Sää 1_2.flv");
        QTest::newRow("leading dash and dots") << QStringLiteral("-..rf") << QStringLiteral("rf.flv");
        QTest::newRow("control characters") << QStringLiteral("a\tb\nc\x7f") << QStringLiteral("abc.flv");
        QTest::newRow("nothing left") << QStringLiteral(" - . ") << QStringLiteral("video.flv");
    }
    void fileNames()
    {
        QFETCH(QString, title);
        QFETCH(QString, fileName);
        QCOMPARE(standin::fileNameForTitle(title), fileName);
    }

    void videoPage()
    {
        standin::VideoFacts facts;
        QVERIFY(standin::parseVideoPage("<meta name=\"stream\" content=\"1002.flv\">\n"
                                        "<meta name=\"title\" content=\"S&auml;&auml; &Ouml;isin\">", &facts));
        QCOMPARE(facts.stream, QStringLiteral("1002.flv"));
        QCOMPARE(facts.title, QStringLiteral("Sää Öisin"));
        QVERIFY(!standin::parseVideoPage("<title>404</title>", &facts));
    }
};

QTEST_GUILESS_MAIN(StandinPartsTest)
#include "tst_standinparts.moc"

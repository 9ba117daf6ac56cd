// The stand-in's pieces that need no server: FLV splicing for resume, the
// stderr relay, option checking and the file name made from a title.
#include "flvtags.h"
#include "options.h"
#include "stderrrelay.h"
#include "videopage.h"

#include <QtTest>

namespace {

QByteArray tag(quint8 type, quint32 timestamp, const QByteArray &body)
{
    QByteArray out;
    out += char(type);
    out += char((body.size() >> 16) & 0xff);
    out += char((body.size() >> 8) & 0xff);
    out += char(body.size() & 0xff);
    out += char((timestamp >> 16) & 0xff);
    out += char((timestamp >> 8) & 0xff);
    out += char(timestamp & 0xff);
    out += char((timestamp >> 24) & 0xff);
    out += QByteArray(3, '\0');
    out += body;
    const quint32 size = quint32(11 + body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((size >> shift) & 0xff);
    return out;
}

const QByteArray flvHeader("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13);

// One H.264 keyframe per second, a frame every 200 ms, audio every 100 ms, in
// timestamp order like ffmpeg writes them.
QByteArray mediaTags(quint32 fromMs, quint32 toMs, quint32 shift = 0)
{
    QByteArray out;
    for (quint32 ms = fromMs; ms < toMs; ms += 100) {
        if (ms % 200 == 0) {
            const bool key = ms % 1000 == 0;
            QByteArray body = QByteArray(key ? "\x17\x01" : "\x27\x01", 2) + QByteArray("\0\0\0", 3);
            body += QByteArray(key ? 40 : 12, char('a' + (ms / 200) % 26));
            out += tag(9, ms + shift, body);
        }
        out += tag(8, ms + shift, QByteArray("\xaf\x01", 2) + QByteArray::number(ms));
    }
    return out;
}

QByteArray wholeVideo()
{
    return flvHeader + tag(18, 0, "onMetaData")
        + tag(9, 0, QByteArray("\x17\x00\0\0\0config", 11))
        + tag(8, 0, QByteArray("\xaf\x00\x12\x10", 4)) + mediaTags(0, 5000);
}

} // namespace

class StandinPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void cutOffTagIsNotScanned()
    {
        const QByteArray video = wholeVideo();
        const auto whole = standin::scanFlvTags(video);
        QCOMPARE(standin::scanFlvTags(video.left(video.size() - 1)).size(), whole.size() - 1);
        QVERIFY(standin::scanFlvTags("not an flv").isEmpty());
    }

    void resumePointIsLastKeyframe()
    {
        const QByteArray video = wholeVideo();
        const QByteArray interrupted = video.left(video.indexOf(tag(8, 3300, "\xaf\x01" "3300")) + 5);
        const auto point = standin::findResumePoint(interrupted);
        QVERIFY(point.valid);
        QCOMPARE(point.timestamp, 3000u);
        QCOMPARE(point.cut, video.indexOf(tag(9, 3000, point.keyframe)));
        QVERIFY(point.haveAudio);
        QCOMPARE(point.lastAudioTimestamp, 2900u);
    }

    // Resuming at zero would ask the server for a negative time; such a file starts over.
    void noResumePointBeforeTheSecondKeyframe()
    {
        const QByteArray video = wholeVideo();
        const QByteArray secondKeyframe = tag(9, 1000, QByteArray("\x17\x01\0\0\0", 5) + QByteArray(40, 'f'));
        QVERIFY(video.contains(secondKeyframe));
        QVERIFY(!standin::findResumePoint(video.left(video.indexOf(secondKeyframe))).valid);
    }

    // The server seeks to the keyframe and rtmpdump adds its start offset to every
    // timestamp; the spliced file must be exactly the uninterrupted one.
    void spliceRebuildsTheWholeFile_data()
    {
        QTest::addColumn<quint32>("interruptAtMs");
        QTest::addColumn<quint32>("continuationFromMs");
        QTest::addColumn<quint32>("rtmpdumpShift");
        QTest::newRow("continuation starts at the keyframe") << 2500u << 2000u << 1999u;
        QTest::newRow("server sends earlier tags too") << 2500u << 1000u << 999u;
        QTest::newRow("interrupted right after a keyframe") << 4000u << 4000u << 3999u;
    }
    void spliceRebuildsTheWholeFile()
    {
        QFETCH(quint32, interruptAtMs);
        QFETCH(quint32, continuationFromMs);
        QFETCH(quint32, rtmpdumpShift);
        const QByteArray video = wholeVideo();
        const qsizetype cutAt = video.indexOf(tag(8, interruptAtMs, "\xaf\x01" + QByteArray::number(interruptAtMs))) + 7;
        const auto point = standin::findResumePoint(video.left(cutAt));
        QVERIFY(point.valid);
        QByteArray kept = video.left(point.cut);
        const QByteArray continuation = flvHeader + tag(18, rtmpdumpShift, "onMetaData")
            + mediaTags(continuationFromMs, 5000, rtmpdumpShift);
        QVERIFY(standin::appendContinuation(&kept, point, continuation));
        QCOMPARE(kept.size(), video.size());
        QVERIFY(kept == video);
    }

    void continuationWithoutTheKeyframeIsRefused()
    {
        const QByteArray video = wholeVideo();
        const auto point = standin::findResumePoint(video.left(video.size() / 2));
        QByteArray kept = video.left(point.cut);
        const QByteArray elsewhere = flvHeader + mediaTags(point.timestamp + 1000, 5000, 7);
        QVERIFY(!standin::appendContinuation(&kept, point, elsewhere));
        QCOMPARE(kept, video.left(point.cut));
    }

    void durationBecomesTheLastTagsTime()
    {
        QByteArray meta("\x02\x00\x0a" "onMetaData" "\x08\0\0\0\x02", 18);
        meta += QByteArray("\x00\x08" "duration" "\x00", 11);
        meta += QByteArray("\x40\x14\0\0\0\0\0\0", 8); // 5.0
        meta += QByteArray("\x00\x05" "width" "\x00\x40\x74\0\0\0\0\0\0\x00\x00\x09", 19);
        QByteArray video = flvHeader + tag(18, 0, meta) + mediaTags(0, 5000);
        const qsizetype size = video.size();
        QCOMPARE(standin::metadataDuration(video), 5.0);
        QVERIFY(standin::setDurationToLastTag(&video));
        QCOMPARE(standin::metadataDuration(video), 4.9);
        QCOMPARE(video.size(), size);
        QCOMPARE(standin::scanFlvTags(video).size(), standin::scanFlvTags(wholeVideo()).size() - 2);

        QByteArray withoutDuration = wholeVideo();
        QVERIFY(!standin::setDurationToLastTag(&withoutDuration));
        QCOMPARE(withoutDuration, wholeVideo());
    }

    void relayPassesBytesUnchanged()
    {
        standin::StderrRelay relay;
        const QByteArray text = "Connecting ...\nINFO: Connected...\n\r1.0 kB / 0.10 sec (1.0%)"
                                "\r2.0 kB / 0.20 sec (2.0%)\nDownload complete\n";
        QByteArray out;
        for (qsizetype i = 0; i < text.size(); i += 7)
            out += relay.feed(text.mid(i, 7));
        out += relay.finishAttempt(false);
        QCOMPARE(out, text);
    }

    void relayHoldsErrorsOfAnAttempt_data()
    {
        QTest::addColumn<bool>("resuming");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("last attempt: errors stay errors") << false << QByteArray("ERROR: RTMP_ReadPacket failed\n");
        QTest::newRow("resumed: errors become warnings") << true << QByteArray("WARNING: RTMP_ReadPacket failed\n");
    }
    void relayHoldsErrorsOfAnAttempt()
    {
        QFETCH(bool, resuming);
        QFETCH(QByteArray, expected);
        standin::StderrRelay relay;
        QCOMPARE(relay.feed("\r3.0 kB / 1.00 sec (3.3%)\nERROR: RTMP_ReadPacket failed\n"),
                 QByteArray("\r3.0 kB / 1.00 sec (3.3%)\n"));
        QCOMPARE(relay.finishAttempt(resuming), expected);
    }

    void relayCountsContinuationFromTheStart()
    {
        standin::StderrRelay relay;
        relay.feed("INFO:   duration              30.08\n");
        QCOMPARE(relay.durationSeconds(), 30.08);
        relay.continueFrom(100 * 1024, 9.999);
        QCOMPARE(relay.feed("\r4.000 kB / 19.999 sec (66.5%)\r"),
                 QByteArray("\r104.000 kB / 10.00 sec (33.2%)\r"));
        QCOMPARE(relay.feed("Download complete\n"), QByteArray("Download complete\n"));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("accepted");
        const QStringList full{"--rtmp", "rtmp://127.0.0.1:1/App", "--swfUrl", "http://h/p.swf?build=1",
                               "--timeout", "60", "--autoResume", "5", "--pageUrl", "http://h/video/1"};
        QTest::newRow("what the downloader passes") << full << true;
        QTest::newRow("unknown option") << (QStringList(full) << "--live" << "1") << false;
        QTest::newRow("option without value") << (QStringList(full) << "--timeout") << false;
        QTest::newRow("short option") << QStringList{"-r", "rtmp://h/a", "--pageUrl", "http://h/v/1"} << false;
        QTest::newRow("timeout not a number") << QStringList{"--rtmp", "rtmp://h/a", "--timeout", "x", "--pageUrl", "http://h/v/1"} << false;
        QTest::newRow("no page") << QStringList{"--rtmp", "rtmp://h/a"} << false;
        QTest::newRow("no stream server") << QStringList{"--pageUrl", "http://h/v/1"} << false;
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, accepted);
        standin::Options options;
        QCOMPARE(standin::parseOptions(arguments, &options).isEmpty(), accepted);
        if (accepted) {
            QCOMPARE(options.timeoutSeconds, 60);
            QCOMPARE(options.autoResume, 5);
        }
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("Finnish letters kept") << QStringLiteral("Päivän uutiset") << QStringLiteral("Päivän uutiset.flv");
        QTest::newRow("slash") << QStringLiteral("Sää 1/2") << QStringLiteral("Sää 1_2.flv");
        QTest::newRow("leading dash") << QStringLiteral("-rf Öljy") << QStringLiteral("rf Öljy.flv");
        QTest::newRow("leading dots") << QStringLiteral("../..") << QStringLiteral("_...flv");
        QTest::newRow("hidden file") << QStringLiteral(".profile") << QStringLiteral("profile.flv");
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
        QVERIFY(standin::parseVideoPage(
            "<head><meta name=\"stream\" content=\"1002.flv\">\n"
            "<meta name=\"title\" content=\"S&auml;&auml; &Ouml;isin\"></head>", &facts));
        QCOMPARE(facts.stream, QStringLiteral("1002.flv"));
        QCOMPARE(facts.title, QStringLiteral("Sää Öisin"));
        QVERIFY(!standin::parseVideoPage("<title>404</title>", &facts));
    }
};

QTEST_GUILESS_MAIN(StandinPartsTest)
#include "tst_standinparts.moc"

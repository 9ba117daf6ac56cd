// The stand-in's pieces: FLV splicing for resume, the stderr relay, option
// checking, the file name made from a title, and the reading of the video
// page, the last through the stand-in itself against a loopback server.
#include "flvtags.h"
#include "loopbackhttpserver.h"
#include "options.h"
#include "stderrrelay.h"
#include "videopage.h"

#include <QBuffer>
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

QByteArray keyframe(quint32 ms, quint32 shift = 0)
{
    return tag(9, ms + shift, QByteArray("\x17\x01\0\0\0", 5) + QByteArray(40, char('a' + ms / 1000)));
}

// Audio holding its time, or, in a video without pictures, one steady tone.
QByteArray audio(quint32 ms, bool tone, quint32 shift = 0)
{
    return tag(8, ms + shift, "\xaf\x01" + (tone ? QByteArray("tone") : QByteArray::number(ms)));
}

// A keyframe each second, a frame each 200 ms, audio each 100 ms, in timestamp
// order as ffmpeg writes them, or the tone alone; `shift` is what rtmpdump adds after a seek.
QByteArray mediaTags(quint32 fromMs, bool soundOnly, quint32 shift = 0)
{
    QByteArray out;
    for (quint32 ms = fromMs; ms < 5000; ms += 100) {
        if (!soundOnly && ms % 1000 == 0)
            out += keyframe(ms, shift);
        else if (!soundOnly && ms % 200 == 0)
            out += tag(9, ms + shift, QByteArray("\x27\x01\0\0\0", 5) + QByteArray::number(ms));
        out += audio(ms, soundOnly, shift);
    }
    return out;
}

QByteArray wholeVideo(bool soundOnly = false)
{
    const QByteArray config = soundOnly ? QByteArray() : tag(9, 0, QByteArray("\x17\x00\0\0\0cfg", 8));
    return flvHeader + tag(18, 0, "onMetaData") + config + mediaTags(0, soundOnly);
}

standin::ResumePoint resumePointOf(QByteArray file)
{
    QBuffer device(&file);
    device.open(QIODevice::ReadOnly);
    return standin::findResumePoint(device);
}

QList<quint32> tagTimes(QByteArray file)
{
    QBuffer device(&file);
    device.open(QIODevice::ReadOnly);
    standin::FlvReader reader(device);
    QList<quint32> times;
    for (standin::FlvTag tag; reader.next(&tag);)
        times.append(tag.timestamp);
    return times;
}

standin::Splice splice(QByteArray *kept, const standin::ResumePoint &point, QByteArray continuation)
{
    QBuffer out(kept);
    out.open(QIODevice::Append);
    QBuffer in(&continuation);
    in.open(QIODevice::ReadOnly);
    qint64 appended = 0;
    const standin::Splice result = standin::appendContinuation(out, point, in, &appended);
    return out.size() == point.cut + appended ? result : standin::Splice::WriteFailed;
}

} // namespace

class StandinPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void resumePoint()
    {
        const QByteArray video = wholeVideo();
        const QByteArray midAudio = video.left(video.indexOf(audio(3300, false)) + 5);
        QCOMPARE(tagTimes(midAudio).last(), 3200u); // the cut tag is left out
        const auto point = resumePointOf(midAudio);
        QVERIFY(point.valid && !point.tagKept);
        QCOMPARE(point.timestamp, 3000u);
        QCOMPARE(point.cut, video.indexOf(keyframe(3000)));
        // Resuming at zero would ask the server for a negative time: start over instead.
        QVERIFY(!resumePointOf(video.left(video.indexOf(keyframe(1000)))).valid);

        // Without pictures the file is kept to its last whole tag, never dropped.
        const QByteArray sound = wholeVideo(true);
        const QByteArray midTone = sound.left(sound.size() - 20);
        const auto tonePoint = resumePointOf(midTone);
        QVERIFY(tonePoint.valid && tonePoint.tagKept);
        QCOMPARE(tonePoint.cut, sound.size() - audio(4900, true).size());
        QCOMPARE(tonePoint.timestamp, 4800u);
    }

    // The server seeks to the keyframe and rtmpdump shifts every timestamp by its
    // start time; the spliced file must be exactly the uninterrupted one.
    void spliceRebuildsTheWholeFile_data()
    {
        QTest::addColumn<bool>("soundOnly");
        QTest::addColumn<quint32>("interruptAtMs");
        QTest::addColumn<quint32>("continuationFromMs");
        QTest::newRow("continuation starts at the keyframe") << false << 2500u << 2000u;
        QTest::newRow("server sends earlier tags too") << false << 2500u << 1000u;
        QTest::newRow("interrupted right after a keyframe") << false << 4000u << 4000u;
        QTest::newRow("sound only, continued at the last tag") << true << 2500u << 2400u;
        QTest::newRow("sound only, server sends from the start") << true << 2500u << 0u;
    }
    void spliceRebuildsTheWholeFile()
    {
        QFETCH(bool, soundOnly);
        QFETCH(quint32, interruptAtMs);
        QFETCH(quint32, continuationFromMs);
        const QByteArray video = wholeVideo(soundOnly);
        const auto point = resumePointOf(video.left(video.indexOf(audio(interruptAtMs, soundOnly)) + 7));
        QVERIFY(point.valid);
        QByteArray kept = video.left(point.cut);
        const quint32 shift = point.startMs();
        const QByteArray continuation = tag(18, shift, "onMetaData") + mediaTags(continuationFromMs, soundOnly, shift);
        QCOMPARE(splice(&kept, point, flvHeader + continuation), standin::Splice::Appended);
        QVERIFY(kept == video);

        kept = video.left(point.cut);
        const QByteArray elsewhere = flvHeader + mediaTags(point.timestamp + 200, soundOnly, shift);
        QCOMPARE(splice(&kept, point, elsewhere), standin::Splice::NotContinued);
        QCOMPARE(splice(&kept, point, flvHeader + tag(18, 0, "onMetaData")), standin::Splice::Appended);
        QCOMPARE(kept, video.left(point.cut));
    }

    void durationBecomesTheLastTagsTime()
    {
        const QByteArray meta = QByteArray("\x02\x00\x0a" "onMetaData" "\x08\0\0\0\x01", 18)
            + QByteArray("\x00\x08" "duration" "\x00\x40\x14\0\0\0\0\0\0" "\x00\x00\x09", 22);
        QByteArray video = flvHeader + tag(18, 0, meta) + mediaTags(0, false);
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
        QVERIFY(!accepted || options.autoResume == 5);
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
        QTest::newRow("long title cut to 200 bytes")
            << QString(300, u'ä') << QString(100, u'ä') + QStringLiteral(".flv");
        QTest::newRow("cut on a character boundary")
            << u'a' + QString::fromUtf8("😀").repeated(60) << u'a' + QString::fromUtf8("😀").repeated(49) + QStringLiteral(".flv");
    }
    void fileNames()
    {
        QFETCH(QString, title);
        QTEST(standin::fileNameForTitle(title), "fileName");
    }

    void videoPage_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("title");
        const QByteArray stream = "<meta name=\"stream\" content=\"1002.flv\">\n";
        QTest::newRow("entities") << stream + "<meta name=\"title\" content=\"S&auml;&auml; &Ouml;isin\">"
                                  << QStringLiteral("Sää Öisin");
        QTest::newRow("UTF-8 in the head")
            << "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n" + stream
                   + "<meta name=\"title\" content=\"Päivän uutiset\">"
            << QStringLiteral("Päivän uutiset");
        QTest::newRow("Latin-1 in a meta tag")
            << "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<meta charset=\"ISO-8859-1\">" + stream
                   + "<meta name=\"title\" content=\"P\xe4iv\xe4n uutiset\">"
            << QStringLiteral("Päivän uutiset");
        QTest::newRow("no page") << QByteArray("<title>404</title>") << QString();
    }
    void videoPage()
    {
        QFETCH(QByteArray, response);
        QFETCH(QString, title);
        standin::VideoFacts facts;
        QCOMPARE(standin::parseVideoPage(response, &facts), !title.isEmpty());
        QCOMPARE(facts.title, title);
    }

    // The page is fetched by the stand-in's wget: its charset names the file,
    // and a page too large or too slow ends the run before any stream is asked for.
    void pageThroughTheStandin_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<bool>("trickle");
        QTest::addColumn<QByteArray>("said");
        const QByteArray utf8Page = "<meta name=\"stream\" content=\"1.flv\">"
                                    "<meta name=\"title\" content=\"Päivän uutiset\">";
        QTest::newRow("UTF-8 title") << utf8Page << false << QByteArray("Saving to Päivän uutiset.flv\n");
        QTest::newRow("over the bound") << QByteArray(5 * 1024 * 1024, 'x') << false
                                        << QByteArray("is larger than 4 MiB");
        QTest::newRow("trickling past the deadline") << utf8Page << true
                                                     << QByteArray("did not arrive within 2 s");
    }
    void pageThroughTheStandin()
    {
        QFETCH(QByteArray, page);
        QFETCH(bool, trickle);
        QFETCH(QByteArray, said);
        LoopbackHttpServer server;
        QVERIFY(server.listen(QUrl(QStringLiteral("http://127.0.0.1:0"))));
        server.setPage("/video/1", page, "text/html; charset=UTF-8");
        if (trickle)
            server.trickle();
        QTemporaryDir work;
        QProcess standin;
        standin.setWorkingDirectory(work.path());
        standin.start(QStringLiteral(LUMORA_STANDIN_DIR "/rtmpdump-zvb"),
                      {"--rtmp", "rtmp://127.0.0.1:1/App", "--timeout", "1", "--pageUrl",
                       QStringLiteral("http://127.0.0.1:%1/video/1").arg(server.serverPort())});
        QSignalSpy finished(&standin, &QProcess::finished);
        QVERIFY(finished.wait(30000));
        const QByteArray err = standin.readAllStandardError();
        QVERIFY2(err.contains(said), err.left(300).constData());
        QCOMPARE(err.startsWith("ERROR: "), !said.startsWith("Saving"));
    }
};

QTEST_GUILESS_MAIN(StandinPartsTest)
#include "tst_standinparts.moc"

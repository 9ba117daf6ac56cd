#include "download/downloader.h"
#include "external/externalprograms.h"
#include "fakedjob.h"
#include "fakeprograms.h"
#include "jobrun.h"
#include "longticks.h"
#include "mediaclip.h"
#include "smalldisk.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

// A file of that name pattern in a staging folder, or an empty string.
QString staged(const JobRun &run, const QString &name)
{
    QDirIterator it(run.path(QStringLiteral(".")), {name}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (const QString path = it.next(); path.contains(QLatin1String("/.lumora-partial/")))
            return path;
    }
    return QString();
}

// The message's end when it names the fetched file it kept.
const QString keptSuffix = QStringLiteral(", ladattu tiedosto säilytetty: /.*/clip\\.flv$");

// How a job ended against a row: the message matches `errmsg` (empty: none); the
// fetched file is kept, not empty and named at the message's end exactly when the
// row says so; no half-written file carries a final name or lands anywhere else.
void checkEnd(const JobRun &run, const QString &errmsg)
{
    QVERIFY2(errmsg.isEmpty() ? run.errmsg.isEmpty() : run.errmsg.contains(QRegularExpression(errmsg)),
             qPrintable(run.errmsg));
    const QFileInfo kept(staged(run, QStringLiteral("clip.flv")));
    QCOMPARE(!kept.filePath().isEmpty(), errmsg.endsWith(keptSuffix));
    if (!kept.filePath().isEmpty())
        QVERIFY2(kept.size() > 0 && run.errmsg.endsWith(kept.absoluteFilePath()), qPrintable(run.errmsg));
    QCOMPARE(QDir(run.path(QStringLiteral("out"))).entryList(QDir::Files),
             run.kinds.endsWith(u'D') ? QStringList{QStringLiteral("clip.mp4")} : QStringList());
    QVERIFY(staged(run, QStringLiteral("*.mp4")).isEmpty());
    QCOMPARE(QDir().entryList({QStringLiteral("*.flv"), QStringLiteral("*.mp4")}, QDir::Files), QStringList());
}

const QByteArray named = FakePrograms::fetcherScript(FakePrograms::Fetcher::NamesClip) + FakePrograms::WaitGo;
const QByteArray copiesClip = FakePrograms::fetcherScript(FakePrograms::Fetcher::CopiesClip);
const QByteArray waitGo = FakePrograms::WaitGo;
const QByteArray real; // an empty converter: the real ffmpeg
const QByteArray missing = "missing"; // no converter to be found

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

    QTemporaryDir clips;
    QString clip;
    MediaInfo clipInfo;

private slots:
    void initTestCase()
    {
        clip = makeFlvClip(clips.path(), QStringLiteral("clip.flv"));
        QVERIFY(!clip.isEmpty());
        qputenv("CLIP", QFile::encodeName(clip));
        clipInfo = probeMedia(clip);
        QVERIFY(clipInfo.valid());
    }

    void reports_data()
    {
        QTest::addColumn<QByteArray>("fetcher"); // empty: no fetcher to be found
        QTest::addColumn<QByteArray>("converter"); // empty: the real ffmpeg
        // The size of the output folder's own disk beyond the clip's; 0: no disk of its own.
        QTest::addColumn<qint64>("room");
        QTest::addColumn<int>("fixMp4");
        QTest::addColumn<QString>("kinds"); // a pattern
        QTest::addColumn<QString>("errmsg"); // a pattern

        const QString kept = keptSuffix;
        const qint64 none = 0;
        QTest::newRow("copied") << named << real << none << 0 << "^PFD$" << "";
        // A fetcher that did not end by itself with status 0 fetched only a part.
        QTest::newRow("fetcher killed") << named + "printf '(30.0%%)\\r' >&2; kill -KILL $$" << real << none << 1
                                        << "^PE$" << "^ERROR.*rtmpdump-zvb.*signaaliin 9 \\(SIGKILL\\).*" + kept;
        QTest::newRow("fetcher exits 2 without a word")
            << named + "exit 2" << real << none << 0 << "^PE$" << "^ERROR.*rtmpdump-zvb.*koodilla 2.*" + kept;
        // A stream that ends early: the fetcher exits with 0 and says nothing, but
        // its progress stopped. Its last line may end with a line feed.
        QTest::newRow("fetcher stops at 40 % and exits 0")
            << named + "printf '(40.0%%)\\r' >&2" << real << none << 1 << "^PE$"
            << "^ERROR: lataus jäi kesken kohtaan 40,0 %, vaikka rtmpdump-zvb päättyi virheittä; paina Tallenna "
               "uudelleen, niin lataus jatkuu siitä" + kept;
        QTest::newRow("fetcher ends at 99.7 % on a line feed")
            << named + "printf '\\r(50.0%%)\\r(99.7%%)\\nDownload complete\\n' >&2" << real << none << 0 << "^PFD$"
            << "";
        QTest::newRow("fetcher error") << named + "printf '(3.0%%)\\rERROR: Download failed\\n' >&2; exit 1" << real
                                       << none << 1 << "^PE$" << "^ERROR: Download failed" + kept;
        // A fetcher that could not write a byte, as on a full disk, leaves nothing to
        // resume: its empty file goes with the staging folder.
        QTest::newRow("fetcher fails before its first byte")
            << "printf 'Saving to clip.flv\\n' >&2; : > clip.flv\n" + waitGo + "exit 1" << real << none << 1 << "^PE$"
            << "^ERROR.*rtmpdump-zvb päättyi koodilla 1$";
        // An empty file is no video: kept as fetched whole, every later press
        // would fail on it without fetching again.
        QTest::newRow("fetcher ends well with an empty file")
            << QByteArray("printf 'Saving to clip.flv\\n(100.0%%)\\r' >&2; : > clip.flv") << real << none << 0
            << "^P?E$" << "^ERROR: ladattu tiedosto on tyhjä$";
        QTest::newRow("fetcher missing") << QByteArray() << real << none << 1 << "^E$" << "^ERROR.*rtmpdump-zvb";
        // Without the file's name there is nothing to convert: no bare "flv".
        QTest::newRow("file never named")
            << "printf '(60.0%%)\\r' >&2\n" + waitGo << real << none << 1 << "^PE$" << "^ERROR.*rtmpdump-zvb";
        QTest::newRow("file written, never named")
            << QByteArray("cp -- \"$CLIP\" clip.flv; printf '(100.0%%)\\r' >&2") << real << none << 1 << "^P?E$"
            << "^ERROR: rtmpdump-zvb päättyi kertomatta.*" + kept;
        QTest::newRow("converter missing") << named << missing << none << 1 << "^PFE$" << "^ERROR.*ffmpeg.*" + kept;
        QTest::newRow("conversion fails") << named << real << none << 1 << "^PFP?E$" << "^ERROR.*" + kept;
        QTest::newRow("converter writes half a file and fails")
            << named << QByteArray("out=\"${@: -1}\"; printf half > \"${out#file:}\"; exit 1") << none << 1
            << "^PFP?E$" << "^ERROR: muunnos epäonnistui.*" + kept;
        // The converter's exit status proves nothing: on a full disk it exits with 0.
        const QByteArray converts = "PATH=${PATH#*:}; out=\"${@: -1}\"; out=\"${out#file:}\"\n"
                                    "ffmpeg -loglevel error -y -i \"$CLIP\" -c copy \"$out\"";
        QTest::newRow("converter cuts its file and exits 0")
            << named << converts + " && truncate -s -100 \"$out\"" << none << 1 << "^PFP?E$"
            << "^ERROR: muunnos jäi kesken, MP4-tiedosto oli vajaa \\(kohdassa \\d+ alkava laatikko jatkuu "
               "tiedoston lopun yli\\) eikä sitä tallennettu" + kept;
        QTest::newRow("converter says the disk is full and exits 0")
            << named << converts + " && cat '" LUMORA_TEST_DATA_DIR "/fixtures/ffmpeg-no-space.txt' >&2" << none << 1
            << "^PFP?E$"
            << "^ERROR: muunnos epäonnistui, levytila loppui \\(ffmpeg: No space left on device\\); vapauta tilaa "
               "ja paina Tallenna uudelleen" + kept;
        QTest::newRow("converter's file grows past the disk's limit")
            << named << QByteArray("echo 'av_interleaved_write_frame(): File too large' >&2; exit 1") << none << 1
            << "^PFP?E$"
            << "^ERROR: video ei mahdu levylle: kansion /.*/out levy ei salli näin suurta tiedostoa \\(FAT32-levyllä "
               "raja on 4 Gt\\).*" + kept;
        // A fake converter, to print time as plain seconds and keep running at 100 %;
        // its file is the smallest whole MP4, an empty index box.
        // While fetching, progress at 100 % looks like the fetch-done report.
        QTest::newRow("converting at 100 %")
            << "printf '(100.0%%)\\r' >&2\n" + named
            << QByteArray("printf 'Duration: 00:00:10.00\\ntime=10.00 \\r' >&2\n"
                          "for ((i = 0; i < 5000; ++i)); do [ -e \"$WORK/go2\" ] && break; sleep 0.02; done\n")
                   + FakePrograms::SmallestMp4
            << none << 1 << "^FPD$" << "";

        // The output folder on a disk too small for what comes: the fetched file,
        // or what arrived of it, stays where the message says; no half file stays.
        // Nothing is converted that cannot fit beside the fetched file.
        QTest::newRow("full disk: room for the fetched file only")
            << copiesClip << real << qint64(64 * 1024) << 1 << "^P?F?E$"
            << "^ERROR: kansiosta /.*/out loppui tila, muunnokseen tarvitaan [0-9,]+ Mt ja vapaana on [0-9,]+ kt; "
               "vapauta tilaa ja paina Tallenna uudelleen" + kept;
        // Moving the fetched file into place is a rename on the same disk.
        QTest::newRow("full disk: room for the fetched file only, moved")
            << copiesClip << real << qint64(64 * 1024) << 0 << "^P?FD$" << "";
        // Something else fills the disk during the conversion; the real ffmpeg then exits with 0.
        QTest::newRow("full disk: filled during the conversion")
            << copiesClip
            << QByteArray("fallocate -l $(( $(stat -f -c '%a * %S' .) - 32768 )) filler\n"
                          "PATH=${PATH#*:} exec ffmpeg \"$@\"")
            << qint64(3 * 1024 * 1024) << 1 << "^P?FP?E$"
            << "^ERROR: muunnos epäonnistui, levytila loppui \\(ffmpeg: No space left on device\\); "
               "vapauta tilaa ja paina Tallenna uudelleen" + kept;
        // A conversion cut off by a power cut left half an MP4 beside the whole
        // fetched file; it is no room taken, since the conversion replaces it.
        QTest::newRow("full disk: half an MP4 left by an earlier conversion")
            << copiesClip + "head -c 2500000 /dev/zero > clip.mp4" << real << qint64(3 * 1024 * 1024) << 1
            << "^P?FP?D$" << "";
        QTest::newRow("full disk: the fetch fills it")
            << QByteArray("printf 'Saving to clip.flv\\n' >&2; cat -- \"$CLIP\" > clip.flv") << real
            << -QFileInfo(clip).size() / 2 << 1 << "^P?E$"
            << "^ERROR: lataus jäi kesken, kansiosta /.*/out loppui tila \\(vapaana [0-9]+ tavua\\); vapauta tilaa "
               "ja paina Tallenna uudelleen. lataus epäonnistui, rtmpdump-zvb päättyi koodilla 1" + kept;
    }

    void reports()
    {
        QFETCH(QByteArray, fetcher);
        QFETCH(QByteArray, converter);
        QFETCH(qint64, room);
        QFETCH(int, fixMp4);
        const bool missingOne = fetcher.isEmpty() || converter == missing;
        FakePrograms fakes(missingOne ? FakePrograms::Path::Only : FakePrograms::Path::BeforeSystem);
        if (!fetcher.isEmpty())
            fakes.addScript(external::fetcherProgram(), fetcher);
        if (!converter.isEmpty() && converter != missing)
            fakes.addConverter(converter);
        JobRun run;
        const QString out = run.path(QStringLiteral("out"));
        std::optional<SmallDisk> disk;
        if (room && !disk.emplace(out, QFileInfo(clip).size() + room).mounted())
            QSKIP(SmallDisk::NoMount);
        run.start(fixMp4, out);
        QVERIFY(run.wait(30000));

        QFETCH(QString, kinds);
        QVERIFY2(run.kinds.contains(QRegularExpression(kinds)), qPrintable(run.kinds + u' ' + run.errmsg));
        QFETCH(QString, errmsg);
        checkEnd(run, errmsg);
        // On a disk of its own the video is moved whole, not cut, or converted whole.
        if (room && errmsg.isEmpty() && fixMp4)
            QVERIFY(sameLength(out + QStringLiteral("/clip.mp4"), clip));
        else if (room && errmsg.isEmpty())
            QCOMPARE(readFile(out + QStringLiteral("/clip.mp4")), readFile(clip));
    }

    void fetcherArguments_data()
    {
        QTest::addColumn<QString>("pageUrl");

        QTest::newRow("plain") << "http://portal/video/1001";
        QTest::newRow("blank") << "http://portal/video/10 01";
        QTest::newRow("double quote") << "http://portal/video/\"1001 x\"";
        QTest::newRow("empty") << "";
    }

    void fetcherArguments()
    {
        QFETCH(QString, pageUrl);
        FakePrograms fakes;
        fakes.addFetcher(FakePrograms::Fetcher::Records);
        JobRun run;
        run.start(0, QString(), pageUrl);
        QVERIFY(run.wait(30000));
        QCOMPARE(FakePrograms::recordedArguments(), QList<QStringList>{external::fetcherArguments(pageUrl)});
    }

    void finishing_data()
    {
        QTest::addColumn<int>("fixMp4");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("targetExists");

        QTest::newRow("converted") << 1 << QByteArray("clip") << "out" << false;
        // "NAME (2).mp4" would be past the 255 bytes a name may have: the title
        // gives way, between two of its two-byte characters.
        QTest::newRow("converted beside an older file, 250-byte title")
            << 1 << QByteArray("ä").repeated(125) << "out" << true;
        QTest::newRow("converted beside an older file") << 1 << QByteArray("Uutiset: Sää ja ilmasto") << "out dir"
                                                        << true;
        QTest::newRow("ERROR in the title is no error") << 1 << QByteArray("ERROR 404 – dokumentti") << "out"
                                                        << false;
        QTest::newRow("converted, name like an option") << 1 << QByteArray("-x") << "" << false;
        QTest::newRow("converted into the working directory") << 1 << QByteArray("clip") << "" << false;
        QTest::newRow("copied") << 0 << QByteArray("clip") << "out" << false;
        QTest::newRow("copied beside an older file") << 0 << QByteArray("Sää") << "out/" << true;
    }

    // With ticks an hour apart, the job still ends: each step follows the end of
    // the one before at once.
    void finishing()
    {
        QFETCH(int, fixMp4);
        QFETCH(QByteArray, name);
        QFETCH(QString, folder);
        QFETCH(bool, targetExists);
        JobRun run;
        const QDir out(QDir::current().filePath(folder.isEmpty() ? QStringLiteral(".") : folder));
        QVERIFY(out.mkpath(QStringLiteral(".")));
        const QString older = out.filePath(QString::fromUtf8(name) + ".mp4");
        if (targetExists)
            QVERIFY(writeFile(older, "an older file of the same name"));
        const LongTicks noTicks;
        // The fetcher names its file in bytes; a UTF-8 name must reach the file system unchanged.
        QVERIFY(runWithFakes(run, "cp -- \"$CLIP\" '" + name + ".flv'\nprintf 'Saving to %s.flv\\n' '" + name + "' >&2",
                             real, fixMp4, folder));

        QVERIFY2(run.kinds.contains(QRegularExpression(QStringLiteral("^FP?D$"))), qPrintable(run.kinds));
        // The older file stays as it was; the video takes the next free name.
        QByteArray second = name + " (2).mp4";
        if (second.size() > 255)
            second = name.left(name.size() - 4) + " (2).mp4";
        const QString target = targetExists ? out.filePath(QString::fromUtf8(second)) : older;
        if (targetExists)
            QCOMPARE(readFile(older), QByteArray("an older file of the same name"));
        if (fixMp4) {
            const MediaInfo made = probeMedia(target);
            QVERIFY2(made.formatName.contains(QLatin1String("mp4")), qPrintable(made.formatName));
            QCOMPARE(made.videoCodec, clipInfo.videoCodec);
            QCOMPARE(made.audioCodec, clipInfo.audioCodec);
            QVERIFY2(qAbs(made.duration - clipInfo.duration) < 0.1, qPrintable(QString::number(made.duration)));
        } else {
            QCOMPARE(readFile(target), readFile(clip));
        }
        // Nothing is left behind: no fetched file, no staging folder.
        QVERIFY(staged(run, QStringLiteral("*.flv")).isEmpty());
        QVERIFY(!out.exists(QStringLiteral(".lumora-partial")));
    }

    void secondPress_data()
    {
        QTest::addColumn<QByteArray>("fetcher");   // the first press's
        QTest::addColumn<QByteArray>("converter"); // the first press's; empty: the real ffmpeg
        QTest::addColumn<bool>("changed");         // the kept file changes before the second press
        QTest::addColumn<bool>("fetchedAgain");
        QTest::addColumn<int>("fixMp4"); // the second press's
        QTest::addColumn<QString>("again"); // the second press's error, a pattern; empty: saved

        // Nothing of the portal is needed to finish a video fetched whole.
        QTest::newRow("conversion failed") << copiesClip << QByteArray("exit 1") << false << false << 1 << "";
        QTest::newRow("conversion failed, then moved") << copiesClip << QByteArray("exit 1") << false << false << 0
                                                       << "";
        QTest::newRow("conversion failed, the kept file changed since")
            << copiesClip << QByteArray("exit 1") << true << true << 1 << "";
        QTest::newRow("fetcher stopped at 40 % and exited 0")
            << QByteArray("head -c 1000 -- \"$CLIP\" > clip.flv; printf 'Saving to clip.flv\\n(40.0%%)\\r' >&2") << real
            << false << true << 1 << "";
        // As on FAT32 past 4 GiB: the same folder cannot take more of it.
        QTest::newRow("fetched file grew past the disk's limit")
            << copiesClip + "echo \"truncate: failed to truncate 'clip.flv' at 5368709120 bytes: File too large\" >&2\n"
                            "exit 1"
            << real << false << false << 1 << "^ERROR: video ei mahdu levylle: .*4 Gt.*" + keptSuffix;
    }

    // The same address pressed again after a failure: the second fetcher fails
    // as against a portal that is gone, unless it finds the kept part to resume.
    // Neither press leaves a file under the video's name unless it saved it.
    void secondPress()
    {
        // A video finished from the kept file alone may run no child at all,
        // nor read from one.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QProcess")));
        QFETCH(QByteArray, fetcher);
        QFETCH(QByteArray, converter);
        QFETCH(bool, changed);
        JobRun run;
        const QString out = run.path(QStringLiteral("out"));
        QVERIFY(runWithFakes(run, fetcher, converter, 1, out, 30000));
        QVERIFY2(run.kinds.endsWith(u'E'), qPrintable(run.kinds));
        checkEnd(run, ".*" + keptSuffix);
        if (changed) {
            QFile file(staged(run, QStringLiteral("clip.flv")));
            QVERIFY(file.open(QIODevice::Append));
            file.write("more");
        }

        // The first job lets go of its staging folder only when it is deleted.
        run.stop();
        run.ended = false;
        QFETCH(int, fixMp4);
        QVERIFY(runWithFakes(run, "touch \"$WORK/fetched again\"\n[ -s clip.flv ] || exit 1\n" + copiesClip
                                      + "printf '(100.0%%)\\r' >&2", real, fixMp4, out, 30000));
        QTEST(QFile::exists(run.path(QStringLiteral("work/fetched again"))), "fetchedAgain");
        QFETCH(QString, again);
        if (again.isEmpty()) {
            QVERIFY2(run.kinds.endsWith(u'D'), qPrintable(run.kinds + u' ' + run.errmsg));
            QVERIFY(probeMedia(out + QStringLiteral("/clip.mp4")).valid());
        }
        checkEnd(run, again);
        QCOMPARE(QDir(out).exists(QStringLiteral(".lumora-partial")), !again.isEmpty());
    }

    // The window closed mid-conversion: no half-written file stays, the fetched one does.
    // Closed before the fetcher wrote a byte, the job leaves no folder behind.
    void deletedWhileConverting()
    {
        {
            FakePrograms silent;
            silent.addScript(external::fetcherProgram(), "echo >> \"$WORK/started\"; sleep 60");
            JobRun run;
            run.start(1, run.path(QStringLiteral("out")));
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.path(QStringLiteral("work/started"))), 30000);
            run.stop();
            const QDir out(run.path(QStringLiteral("out")));
            QCOMPARE(out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        }
        FakePrograms fakes;
        fakes.addFetcher(FakePrograms::Fetcher::NamesClip);
        fakes.addConverter("out=\"${@: -1}\"; printf half > \"${out#file:}\"; sleep 60");
        JobRun run;
        run.start(1, run.path(QStringLiteral("out")));
        QTRY_VERIFY_WITH_TIMEOUT(!staged(run, QStringLiteral("clip.mp4")).isEmpty(), 30000);
        run.stop();
        QVERIFY(staged(run, QStringLiteral("clip.mp4")).isEmpty());
        QVERIFY(!staged(run, QStringLiteral("clip.flv")).isEmpty());
        QCOMPARE(QDir(run.path(QStringLiteral("out"))).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"

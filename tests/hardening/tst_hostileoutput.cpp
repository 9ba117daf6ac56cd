// Child output that no real fetcher or converter writes, and folders that
// cannot take the file. The fetcher and, where named, the converter are
// scripted fakes: these cases need output exact to the byte. The real ffmpeg
// converts wherever the case is about the folder.
#include "download/outputparser.h"
#include "download/stagingfolder.h"
#include "external/externalprograms.h"
#include "fakedjob.h"
#include "fakeprograms.h"
#include "jobrun.h"
#include "mediaclip.h"
#include "mountedfilesystem.h"
#include "programrun.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <optional>

#include <glob.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 60000;
const QByteArray copies = FakePrograms::fetcherScript(FakePrograms::Fetcher::CopiesClip);
const QByteArray names = FakePrograms::fetcherScript(FakePrograms::Fetcher::NamesClip);

// The fetcher names its file with the bytes of the file "name" in the working
// directory, after writing the file itself where that name points.
const QByteArray namingFetcher = R"(n=$(cat "$WORK/name")
printf 'video' > "$n.flv" 2>/dev/null
printf '(100.0%%)\r' >&2
printf 'Saving to %s.flv\n' "$n" >&2
)";

// A path in bytes, where "*" stands for any one name.
bool existsAsBytes(const QByteArray &path)
{
    glob_t found;
    const bool exists = ::glob(path.constData(), 0, nullptr, &found) == 0 && found.gl_pathc > 0;
    ::globfree(&found);
    return exists;
}

qint64 peakResidentKiB()
{
    static const QRegularExpression peak(u"VmHWM:\\s+(\\d+)"_s);
    const QRegularExpressionMatch match = peak.match(QString::fromLatin1(readFile(u"/proc/self/status"_s)));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace

class TestHostileOutput : public QObject
{
    Q_OBJECT

    QTemporaryDir clips;
    QString clip;

private slots:
    void initTestCase()
    {
        clip = makeFlvClip(clips.path(), QStringLiteral("clip.flv"), 1.0);
        QVERIFY(!clip.isEmpty());
        qputenv("CLIP", QFile::encodeName(clip));
    }

    void fetcherNames_data()
    {
        QTest::addColumn<QByteArray>("name"); // "@" stands for the temporary folder
        QTest::addColumn<QString>("errmsg");
        QTest::addColumn<QByteArray>("fetcherFile"); // where the fetcher's own file lies, or empty

        QTest::newRow("parent folder") << QByteArray("../escape") << "^ERROR.*toiseen kansioon: \\.\\./escape\\.flv$"
                                       << QByteArray("@/out/.lumora-partial/escape.flv");
        QTest::newRow("two levels up") << QByteArray("../../escape") << "^ERROR.*toiseen kansioon"
                                       << QByteArray("@/out/escape.flv");
        QTest::newRow("absolute path") << QByteArray("@/abs") << "^ERROR.*toiseen kansioon" << QByteArray("@/abs.flv");
        QTest::newRow("subfolder") << QByteArray("sub/clip") << "^ERROR.*toiseen kansioon" << QByteArray();
        QTest::newRow("300 bytes") << QByteArray(300, 'a') << "^ERROR.*liian pitkän tiedostonimen \\(304 tavua\\)$"
                                   << QByteArray();
        QTest::newRow("Latin-1 bytes") << QByteArray("S\xe4\xe4") << "^ERROR.*UTF-8"
                                       << QByteArray("@/out/.lumora-partial/*/S\xe4\xe4.flv");
        QTest::newRow("invalid UTF-8 sequence") << QByteArray("a\xc3\x28z") << "^ERROR.*UTF-8"
                                                << QByteArray("@/out/.lumora-partial/*/a\xc3\x28z.flv");
    }

    // However the fetcher names its file, the job moves or removes nothing
    // outside the working directory and the chosen folder, and says why it stops.
    void fetcherNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, fetcherFile);
        for (const int fixMp4 : {0, 1}) {
            JobRun run;
            const QByteArray root = QFile::encodeName(QDir::cleanPath(run.path(QStringLiteral("."))));
            QVERIFY(writeFile(QStringLiteral("name"), QByteArray(name).replace('@', root)));
            const QStringList before = run.files();
            QVERIFY(runWithFakes(run, namingFetcher, FakePrograms::SmallestMp4, fixMp4, run.path(u"out"_qs), Patience));

            QCOMPARE(run.kinds.back(), u'E');
            QFETCH(QString, errmsg);
            QVERIFY2(run.errmsg.contains(QRegularExpression(errmsg)), qPrintable(run.errmsg));
            if (!fetcherFile.isEmpty())
                QVERIFY(existsAsBytes(QByteArray(fetcherFile).replace('@', root)));
            const QStringList after = run.files();
            for (const QString &file : before)
                QVERIFY2(after.contains(file), qPrintable(file));
            // The job placed nothing, whatever the fetcher wrote itself.
            QCOMPARE(QDir(run.path(QStringLiteral("out"))).entryList({QStringLiteral("*.mp4")}), QStringList());
        }
    }

    // 100 MB of standard error without a carriage return or a line feed, after
    // the save line: the job keeps a bounded part of it and still finishes.
    void floodWithoutCarriageReturn()
    {
        JobRun run;
        // The peak resident size starts again from the current size.
        QVERIFY(writeFile(u"/proc/self/clear_refs"_s, "5"));
        const qint64 peakBefore = peakResidentKiB();
        QVERIFY(runWithFakes(run, names + "head -c 100000000 /dev/zero | tr '\\0' x >&2\nprintf '(100.0%%)\\r' >&2\n",
                             QByteArray(), 0, run.path(u"out"_qs), Patience));

        QVERIFY2(run.kinds.endsWith(QLatin1String("FD")), qPrintable(run.kinds + u' ' + run.errmsg));
        QVERIFY(QFile::exists(run.path(QStringLiteral("out/clip.mp4"))));
        // Keeping the flood would take 300 MB: 100 in the pipe's buffer, 200 as
        // text. AddressSanitizer holds freed memory back, so only a plain build
        // can tell.
#ifndef __SANITIZE_ADDRESS__
        const qint64 growthMiB = (peakResidentKiB() - peakBefore) / 1024;
        QVERIFY2(growthMiB < 40, qPrintable(QStringLiteral("%1 MiB").arg(growthMiB)));
#else
        Q_UNUSED(peakBefore);
#endif
    }

    void keptTextPastTheLimit_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<int>("percent1");
        QTest::addColumn<QString>("baseName");
        QTest::addColumn<int>("duration");
        QTest::addColumn<QString>("error");

        const QByteArray junk(300 * 1024, 'x');
        QTest::newRow("fetcher line")
            << 1 << QByteArrayList{"Saving to clip.flv\n", junk, junk, "(42.0%)\r"} << 42 << "clip." << 0 << QString();
        QTest::newRow("fetcher error before the flood")
            << 1 << QByteArrayList{"(3.0%)\rERROR: yhteys katkesi\n", junk, "(4.0%)"} << 3 << QString() << 0
            << "ERROR: yhteys katkesi\n";
        QTest::newRow("fetcher error inside the flood")
            << 1 << QByteArrayList{"(3.0%)\r", junk, "\nERROR: yhteys katkesi\n", junk, "(4.0%)"} << 3 << QString()
            << 0 << "ERROR: yhteys katkesi\n";
        const QByteArray lines = QByteArray("frame=1 time=1.00 \r").repeated(100 * 1000);
        QTest::newRow("converter output")
            << 2 << QByteArrayList{"Duration: 00:01:40.00\n", lines, lines, "ERROR: levy t\xe4ynn\xe4\n"} << 0
            << QString() << 100 << u"ERROR: levy täynnä\n"_qs;
        QTest::newRow("converter error inside the flood")
            << 2 << QByteArrayList{"Duration: 00:01:40.00\n", lines, "ERROR: levy t\xe4ynn\xe4\n", lines, lines} << 0
            << QString() << 100 << u"ERROR: levy täynnä\n"_qs;
    }

    // Past the limits the job keeps the first and the newest text: the save line,
    // an error and the duration at the front, the percentage and an error at the
    // end. An error in the dropped middle is kept aside.
    void keptTextPastTheLimit()
    {
        QFETCH(int, phase);
        QFETCH(QByteArrayList, reads);
        outputparser::State state;
        for (const QByteArray &read : reads) {
            state.output += external::childText(read);
            phase == 1 ? outputparser::scanFetching(state) : outputparser::scanFinishing(state);
            QVERIFY(state.output.size()
                    <= (phase == 1 ? outputparser::FetchingLineLimit : outputparser::FinishingOutputLimit));
        }
        outputparser::readSaveLine(state);
        QTEST(state.percent1, "percent1");
        QTEST(state.baseName, "baseName");
        QTEST(state.duration, "duration");
        QFETCH(QString, error);
        const QString found = outputparser::endTest(state);
        QVERIFY2(error.isNull() ? found.isNull() : found.startsWith(error), qPrintable(found.left(80)));
    }

    void folders_data()
    {
        QTest::addColumn<QString>("folder"); // relative to the temporary folder unless absolute
        QTest::addColumn<QString>("target"); // where the file lands; empty: nowhere

        QTest::newRow("missing") << "none" << QString();
        QTest::newRow("a file instead of a folder") << "file" << QString();
        QTest::newRow("below a file") << "file/sub" << QString();
        // Tests run as root, who may write anywhere on disk but not into /proc.
        QTest::newRow("not writable") << "/proc" << QString();
        QTest::newRow("trailing slash") << "out/" << "out/clip.mp4";
        QTest::newRow("blanks and Finnish letters") << "Omat videot/Ääniä ja öitä"
                                                    << "Omat videot/Ääniä ja öitä/clip.mp4";
    }

    // A folder that cannot take the file is said before anything is fetched, and
    // nothing lands elsewhere; one that can gets the file, converted or copied.
    void folders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, target);
        for (const int fixMp4 : {0, 1}) {
            JobRun run;
            QVERIFY(QDir().mkpath(run.path(QStringLiteral("Omat videot/Ääniä ja öitä"))));
            QVERIFY(writeFile(run.path(QStringLiteral("file"))));
            const QString chosen = QDir::isAbsolutePath(folder) ? folder : run.path(folder);
            QVERIFY(runWithFakes(run, copies, QByteArray(), fixMp4, chosen, Patience));

            if (target.isEmpty()) {
                QVERIFY2(run.kinds.endsWith(u'E'), qPrintable(run.kinds));
                QVERIFY2(run.errmsg.startsWith(QLatin1String("ERROR")) && run.errmsg.contains(chosen),
                         qPrintable(run.errmsg));
                QCOMPARE(run.files().filter(QStringLiteral("clip.")), QStringList());
            } else {
                QVERIFY2(run.kinds.endsWith(u'D'), qPrintable(run.kinds + u' ' + run.errmsg));
                QVERIFY(!QFile::exists(QStringLiteral("clip.flv")));
                const MediaInfo made = probeMedia(run.path(target));
                QVERIFY2(made.valid(), qPrintable(target));
            }
        }
    }

    void plantedNames_data()
    {
        // Scripts run in bash with $ROOT (the temporary folder, the working
        // directory of "plant" and "check"), $KEY (the job's folder name), $CLIP.
        QTest::addColumn<QByteArray>("plant");   // made before the job starts
        QTest::addColumn<QByteArray>("fetcher"); // runs in the job's folder
        QTest::addColumn<int>("fixMp4");
        QTest::addColumn<QString>("errmsg");     // empty: the job ends well
        QTest::addColumn<QByteArray>("check");   // exits 0 when nothing else was touched

        const QByteArray writes = "printf video > clip.flv; printf 'Saving to clip.flv\\n' >&2\n";
        const QByteArray appends = "printf video >> clip.flv; printf 'Saving to clip.flv\\n' >&2\n";
        const QByteArray staging = "mkdir -p out/.lumora-partial/$KEY\n";
        const QByteArray victim = "mkdir -p victim/sub; echo precious > victim/a; echo precious > victim/sub/b\n";
        const QByteArray victimWhole = "[ \"$(cat victim/a victim/sub/b)\" = $'precious\\nprecious' ] "
                                       "&& [ \"$(ls -A victim)\" = $'a\\nsub' ]";
        const QString notOurs = u"^ERROR: /.*/out/\\.lumora-partial on linkki tai toisen käyttäjän kansio"_qs;

        QTest::newRow("job folder is a link to another folder")
            << victim + "mkdir -p out/.lumora-partial; ln -s ../../victim out/.lumora-partial/$KEY" << writes << 0
            << QString() << victimWhole + " && [ -L out/.lumora-partial/$KEY ] && [ \"$(cat out/clip.mp4)\" = video ]";
        QTest::newRow("root is a link to another folder")
            << victim + "ln -s ../victim out/.lumora-partial" << writes << 0 << notOurs
            << victimWhole + " && [ -z \"$(ls out)\" ]";
        QTest::newRow("job folder of another user")
            << staging + "echo theirs > out/.lumora-partial/$KEY/clip.flv; chown -R 65534 out/.lumora-partial/$KEY"
            << appends << 0 << QString()
            << QByteArray("[ \"$(cat out/.lumora-partial/$KEY/clip.flv)\" = theirs ] "
                          "&& [ \"$(cat out/clip.mp4)\" = video ]");
        QTest::newRow("root of another user")
            << QByteArray("mkdir -p out/.lumora-partial; chown 65534 out/.lumora-partial") << writes << 0 << notOurs
            << QByteArray("[ -z \"$(ls out)\" ]");
        QTest::newRow("a file of the user's in the job folder stays")
            << staging + "mkdir out/.lumora-partial/$KEY/notes; echo mine > out/.lumora-partial/$KEY/notes/n"
            << writes << 0 << QString()
            << QByteArray("[ \"$(cat out/.lumora-partial/$KEY/notes/n)\" = mine ] "
                          "&& [ \"$(ls -A out/.lumora-partial/$KEY)\" = notes ]");
        QTest::newRow("partial download of a second occurrence is resumed")
            << QByteArray("mkdir -p out/.lumora-partial/$KEY-2; printf part- > out/.lumora-partial/$KEY-2/clip.flv")
            << appends << 0 << QString()
            << QByteArray("[ \"$(cat out/clip.mp4)\" = part-video ] && [ ! -e out/.lumora-partial ]");
        // A fetcher that fails before it names its file leaves the earlier part as it was.
        QTest::newRow("partial download kept when the fetcher fails unnamed")
            << staging + "printf part- > out/.lumora-partial/$KEY/clip.flv"
            << QByteArray("printf 'ERROR: Failed to connect\\n' >&2; exit 1") << 0
            << u"^ERROR: Failed to connect, ladattu tiedosto säilytetty: /.*/out/\\.lumora-partial/[0-9a-f]+/clip\\.flv$"_s
            << QByteArray("[ \"$(cat out/.lumora-partial/$KEY/clip.flv)\" = part- ]");
        // What a crash between the link and the unlink of placing leaves.
        QTest::newRow("fetched name linked to a saved video")
            << staging + "echo saved > out/clip.mp4; ln out/clip.mp4 out/.lumora-partial/$KEY/clip.flv" << appends << 0
            << QString() << QByteArray("[ \"$(cat out/clip.mp4)\" = saved ] "
                                       "&& [ \"$(cat 'out/clip (2).mp4')\" = video ]");
        QTest::newRow("converter's name linked to a saved video")
            << staging + "echo saved > out/clip.mp4; ln out/clip.mp4 out/.lumora-partial/$KEY/clip.mp4"
            << copies << 1 << QString()
            << QByteArray("[ \"$(cat out/clip.mp4)\" = saved ] && [ -s 'out/clip (2).mp4' ]");
        // The name the converter would write to is the fetcher's own video.
        QTest::newRow("fetcher saves its video under the converter's name")
            << QByteArray() << QByteArray("cp -- \"$CLIP\" clip.mp4; printf 'Saving to clip.mp4\\n' >&2") << 1
            << u"^ERROR: ladattua tiedostoa ei löydy: /.*/out/\\.lumora-partial/[0-9a-f]+/clip\\.flv$"_s
            << QByteArray("cmp -- \"$CLIP\" out/.lumora-partial/$KEY/clip.mp4 && [ -z \"$(ls out)\" ]");
        // "Saving to: clip.flv" names " clip.flv"; the file the fetcher wrote is the one kept.
        QTest::newRow("fetcher names another file than it wrote")
            << QByteArray() << QByteArray("printf video > clip.flv; printf 'Saving to: clip.flv\\n' >&2") << 0
            << u"^ERROR: ladattua tiedostoa ei löydy: /.*/ clip\\.flv, ladattu tiedosto säilytetty: "
               "/.*/out/\\.lumora-partial/[0-9a-f]+/clip\\.flv$"_s
            << QByteArray("[ \"$(cat out/.lumora-partial/$KEY/clip.flv)\" = video ] && [ -z \"$(ls out)\" ]");
        for (const int fixMp4 : {0, 1})
            QTest::addRow("output folder removed during the download, fixMp4 %d", fixMp4)
                << QByteArray() << writes + "rm -rf \"$ROOT/out\"" << fixMp4
                << u"^ERROR: tallennuskansio /.*/out poistettiin tai siirrettiin kesken latauksen$"_qs
                << QByteArray("true");
    }

    // Whatever someone who may write into the output folder planted there, and
    // whatever an earlier run left, the job writes and removes only its own names.
    void plantedNames()
    {
        QFETCH(QByteArray, plant);
        QFETCH(QByteArray, fetcher);
        if (plant.contains("chown") && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        JobRun run;
        qputenv("ROOT", QFile::encodeName(run.path(u"."_s)));
        qputenv("KEY", StagingFolder::key(QStringLiteral("http://portal/video/1")).toLatin1());
        const auto bash = [](const QByteArray &script) {
            return runProgram(u"bash"_s, {u"-ec"_s, u"cd \"$ROOT\"\n"_s + QString::fromUtf8(script)}).exitCode == 0;
        };
        QVERIFY(bash(plant));

        QFETCH(int, fixMp4);
        QVERIFY(runWithFakes(run, fetcher, QByteArray(), fixMp4, run.path(u"out"_qs), Patience));

        QFETCH(QString, errmsg);
        QVERIFY2(run.kinds.endsWith(errmsg.isEmpty() ? u'D' : u'E'), qPrintable(run.kinds + u' ' + run.errmsg));
        QVERIFY2(run.errmsg.contains(QRegularExpression(errmsg)), qPrintable(run.errmsg));
        QFETCH(QByteArray, check);
        QVERIFY2(bash(check), qPrintable(run.files().join(u' ')));
    }

    void jobEnds_data()
    {
        // What the folder's FUSE disk fails, or "exFAT" and its size; empty: a plain folder.
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QByteArray>("fetcher");
        QTest::addColumn<QByteArray>("converter"); // empty: the real ffmpeg
        QTest::addColumn<int>("fixMp4");
        QTest::addColumn<QString>("errmsg");
        QTest::addColumn<QString>("kept"); // the file the message names: fetched or none; or the saved name

        // The fetcher says it failed, goes on with progress and exits with 0. It
        // waits between its lines so that polls drop the error line from the
        // job's text before the end; the cut video must not be placed.
        QTest::newRow("fetcher error before progress")
            << "" << copies + "printf 'ERROR: RTMP_ReadPacket, failed to read RTMP packet header\\n(40.0%%)\\r' >&2\n"
                              "sleep 1; printf '(41.0%%)\\r' >&2; sleep 1\n"
            << QByteArray() << 0 << "^ERROR: RTMP_ReadPacket" << "fetched";
        // The converter's output changes percentages only; the file is judged by
        // the error marker, the exit code and the target itself.
        const auto converter = [](const QByteArray &before, const QByteArray &after = QByteArray()) {
            return "printf '" + before + "' >&2\n" + FakePrograms::SmallestMp4 + "printf '" + after + "' >&2\n";
        };
        QTest::newRow("converter: garbage duration digits")
            << "" << names << converter("Duration: 0x:-1:+9.00, start\\ntime=5.00 bitrate\\r") << 1 << "^$"
            << "clip.mp4";
        QTest::newRow("converter: duration cut short")
            << "" << names << converter("Duration: 0") << 1 << "^$" << "clip.mp4";
        QTest::newRow("converter: time without a blank")
            << "" << names << converter("Duration: 00:00:10.00\\ntime=5\\rtime=7\\rtime=") << 1 << "^$" << "clip.mp4";
        QTest::newRow("converter: huge time")
            << "" << names << converter("Duration: 00:00:01\\ntime=1e300 \\rtime=nan \\r") << 1 << "^$" << "clip.mp4";
        // The converter's file carries no final name; the fetched file stays where the message says.
        QTest::newRow("converter: error after the file was written")
            << "" << names << converter("Duration: 00:00:10.00\\ntime=5.00 \\r", "ERROR: late failure\\n") << 1
            << "^ERROR: late failure, ladattu tiedosto säilytetty: /.*/clip\\.flv$" << "fetched";

        QTest::newRow("lock refused (ENOLCK)")
            << "flock" << copies << QByteArray() << 0
            << "^ERROR: latauskansiota /.*/\\.lumora-partial/[0-9a-f]+ ei voitu lukita: " << "none";
        const QString notFlushed = u"^ERROR: tiedostoa clip\\.flv ei voitu kirjoittaa levylle: .*säilytetty: "_qs;
        QTest::newRow("file flush fails (EIO)") << "fsync" << copies << QByteArray() << 0 << notFlushed << "fetched";
        QTest::newRow("file close fails (EIO)") << "flush" << copies << QByteArray() << 0 << notFlushed << "fetched";
        // Once renamed the video is saved; the failed flush is a warning with it.
        const QString folderNotFlushed =
            u"^VAROITUS: video tallennettiin nimellä /.*/clip\\.mp4, "
            "mutta kansion muutosta ei voitu varmistaa levylle "_qs;
        for (const int fixMp4 : {0, 1})
            QTest::addRow("folder flush fails (EIO), %s", fixMp4 ? "converted" : "copied")
                << "fsyncdir" << copies << QByteArray() << fixMp4 << folderNotFlushed << "clip.mp4";
        // Some network mounts give 0 blocks: the room is unknown, not none.
        QTest::newRow("no size reported, converted") << "statfs" << copies << QByteArray() << 1 << "^$" << "clip.mp4";
        // The scripted fetcher makes its file sparse past 4 GiB, which FAT32 refuses.
        // Through FUSE the disk's type is not known; the message still names the limit.
        QTest::newRow("FAT32, the fetch passes 4 GiB")
            << "fat32" << copies + "printf '(60.0%%)\\r' >&2\ntruncate -s 5G clip.flv" << QByteArray() << 1
            << "^ERROR: video ei mahdu levylle: kansion /.* levy ei salli näin suurta tiedostoa \\(FAT32-levyllä "
               "raja on 4 Gt\\), eikä uusi yritys samaan kansioon auta; valitse tallennuskansio toiselta levyltä "
               "\\(esimerkiksi exFAT, NTFS tai ext4\\), ladattu tiedosto säilytetty: "
            << "fetched";
        // A stick has neither renameat2 nor links, and takes "CLIP.mp4" and
        // "clip.mp4" for one file: the video gets a free name beside the older
        // file, which stays as it was, without needing room for a copy.
        const QByteArray keepsCopy = "\ncp clip.flv \"$WORK/fetched\"";
        QTest::newRow("exFAT stick, converted") << "exFAT 16M" << copies + keepsCopy << QByteArray() << 1 << "^$"
                                                << "clip (2).mp4";
        QTest::newRow("exFAT stick, copied") << "exFAT 16M" << copies + keepsCopy << QByteArray() << 0 << "^$"
                                             << "clip (2).mp4";
        // About 2 MB free: room for the fetched file, not for a copy of it.
        QTest::newRow("exFAT stick, copied onto a nearly full stick")
            << "exFAT 4M"
            << "head -c 1300000 /dev/urandom > clip.flv; printf 'Saving to clip.flv\\n' >&2" + keepsCopy
            << QByteArray() << 0 << "^$" << "clip (2).mp4";
    }

    // A job that fails says so, and the file it names is there; nothing of a
    // job that never began is left; a failed write of the placing or a lock fails
    // the job. What fails only after the video has its name is no failure.
    void jobEnds()
    {
        QFETCH(QString, disk);
        QFETCH(QByteArray, fetcher);
        QFETCH(QByteArray, converter);
        QFETCH(int, fixMp4);
        QFETCH(QString, kept);
        const bool stick = disk.startsWith(u"exFAT");
        const bool saved = kept.endsWith(u".mp4");
        std::optional<MountedFileSystem> mounted;
        if (stick)
            mounted.emplace(MountedFileSystem::Kind::ExFat, disk.section(u' ', 1));
        else if (!disk.isEmpty())
            mounted.emplace(disk);
        if (mounted && !mounted->problem.isEmpty())
            QSKIP(qPrintable(mounted->problem));
        JobRun run;
        const QDir out(mounted ? mounted->path : run.path(QStringLiteral("out")));
        const QString older = out.filePath(u"CLIP.mp4"_s);
        if (stick)
            QVERIFY(writeFile(older, "an older file"));
        QVERIFY(runWithFakes(run, fetcher, converter, fixMp4, out.path(), Patience));

        QVERIFY2(run.kinds.endsWith(saved ? u'D' : u'E'), qPrintable(run.kinds + u' ' + run.errmsg));
        QFETCH(QString, errmsg);
        QVERIFY2(run.errmsg.contains(QRegularExpression(errmsg)), qPrintable(run.errmsg));
        QStringList left = out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        left.sort();
        if (saved) {
            QCOMPARE(left, (stick ? QStringList{u"CLIP.mp4"_s, kept} : QStringList{kept}));
            QVERIFY(run.files().filter(QStringLiteral("clip.flv")).isEmpty());
        } else if (kept == u"none") {
            QCOMPARE(left, QStringList());
        } else {
            const QString named = run.errmsg.section(QStringLiteral("säilytetty: "), 1);
            QVERIFY2(named.endsWith(QLatin1String("/clip.flv")) && QFileInfo(named).size() > 0, qPrintable(named));
            QCOMPARE(out.entryList(QDir::Files | QDir::Hidden), QStringList());
        }
        if (stick) {
            QCOMPARE(readFile(older), QByteArray("an older file"));
            const QString video = out.filePath(kept);
            if (fixMp4)
                QVERIFY(probeMedia(video).valid());
            else
                QVERIFY(readFile(video) == readFile(run.path(QStringLiteral("work/fetched"))));
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileOutput)
#include "tst_hostileoutput.moc"

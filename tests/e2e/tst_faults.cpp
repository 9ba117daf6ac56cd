// Faults against the demo portal, and that nothing is lost through them: a
// stream server that goes away and comes back, a video the portal does not
// have, an output folder that cannot be written or that fills up, a web
// server that is down, episodes that share one title, a fetcher or the whole
// program killed, mid-download or mid-search.
#include "download/stagingfolder.h"
#include "external/externalprograms.h"
#include "fakeprograms.h"
#include "isolatedstate.h"
#include "leftovers.h"
#include "loopbackhttpserver.h"
#include "mediaclip.h"
#include "mountaccess.h"
#include "mountedfilesystem.h"
#include "portalrun.h"
#include "smalldisk.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <optional>

#include <unistd.h>

namespace {

constexpr int Patience = 120000;
const QString saved = QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!");

QString failedSummary(const char *counts)
{
    return QStringLiteral("Valmis: %1 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: ")
        .arg(QLatin1String(counts));
}

// The one error of a batch that ended with one video failed; empty, with what
// was shown instead in the log, when the batch did not end so.
QString soleError(const WindowDriver &driver, const char *counts)
{
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    if (driver.status().startsWith(failedSummary(counts)) && errors.size() == 1)
        return errors.first();
    qWarning("ended with \"%s\" after:\n%s", qPrintable(driver.status()), qPrintable(errors.join(u'\n')));
    return QString();
}

// Whether the files in `folder` are as long as the sources, in some order.
bool sameDurations(const QDir &folder, const QStringList &made, const QStringList &sources)
{
    const auto sorted = [&folder](const QStringList &files) {
        QList<double> durations;
        for (const QString &file : files)
            durations << probeMedia(folder.filePath(file)).duration;
        std::sort(durations.begin(), durations.end());
        return durations;
    };
    const QList<double> a = sorted(made), b = sorted(sources);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) { return qAbs(x - y) <= 0.2; });
}

// The processes of this user whose working directory is `folder`, by /proc.
int processesIn(const QString &folder)
{
    int count = 0;
    for (QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();)
        count += QFileInfo(it.next() + QStringLiteral("/cwd")).symLinkTarget() == folder;
    return count;
}

qint64 pidOf(const QString &process)
{
    return process.section(u' ', 0, 0).toLongLong();
}

} // namespace

class FaultsTest : public PortalSuite
{
    Q_OBJECT

    QString outFolder() const { return work.filePath(QStringLiteral("out")); }
    // The fetched file of a video, kept where it waits until it is converted or moved.
    QString kept(const QString &id) const
    {
        return outFolder() + QStringLiteral("/.lumora-partial/") + StagingFolder::key(external::videoPageAddress(id))
               + u'/' + portal.title(id) + QStringLiteral(".flv");
    }

    // One video at its own pace, so that the download has a middle; true once
    // the bar has reached `percent`.
    bool startAtOwnPace(WindowDriver &driver, const QString &id, int percent)
    {
        PortalRun::setFastPace(false);
        driver.startBatch(external::videoPageAddress(id), outFolder(), 1);
        const bool reached = QTest::qWaitFor([&] { return driver.bar() >= percent; }, Patience);
        PortalRun::setFastPace(true);
        return reached;
    }

    // A download of the address again, by a press of "Tallenna" in the same
    // window or given anew in a new one: its first progress is where the partial
    // file ended, not 0, and the video is whole.
    void resumeAndCheck(const QString &id, WindowDriver *pressedAgain = nullptr)
    {
        std::optional<WindowDriver> fresh;
        WindowDriver &driver = pressedAgain ? *pressedAgain : fresh.emplace();
        QObject recording; // the connection ends with this function
        int firstProgress = 0;
        QObject::connect(driver.window->findChild<QProgressBar *>(QStringLiteral("progressBar")),
                         &QProgressBar::valueChanged, &recording, [&firstProgress](int value) {
                             if (firstProgress == 0)
                                 firstProgress = value;
                         });
        if (pressedAgain)
            driver.button("pushButton")->click();
        else
            driver.startBatch(external::videoPageAddress(id), outFolder(), 1);
        QVERIFY(driver.waitForEnd(Patience));
        QCOMPARE(driver.status(), saved);
        QVERIFY2(firstProgress >= 35, qPrintable(QString::number(firstProgress)));
        QCOMPARE(unsaved(outFolder(), {id}), QString());
    }

private slots:
    void init()
    {
        QDir(work.path()).removeRecursively();
        QVERIFY(QDir().mkpath(outFolder()));
        QVERIFY(QDir::setCurrent(work.path()));
    }

    void streamServerRestartsMidDownload()
    {
        WindowDriver driver;
        QVERIFY(startAtOwnPace(driver, QStringLiteral("1002"), 20));
        QCOMPARE(portal.stopStreamServer(), QString());
        QVERIFY2(driver.bar() < 90, "the download ran too fast to be interrupted");
        QCOMPARE(portal.startStreamServer(), QString());

        QVERIFY(driver.waitForEnd(Patience));
        QCOMPARE(driver.status(), saved);
        QVERIFY2(driver.statusHistory().filter(QStringLiteral("ERROR")).isEmpty(),
                 qPrintable(driver.statusHistory().join(u'\n')));
        QCOMPARE(unsaved(outFolder(), {QStringLiteral("1002")}), QString());
    }

    void unknownVideoAmongGoodOnes()
    {
        WindowDriver driver;
        driver.startBatch(pageAddresses({QStringLiteral("9999"), QStringLiteral("1006")}), outFolder(), 1);
        QVERIFY(driver.waitForEnd(Patience));

        const QString error = soleError(driver, "1/2");
        QVERIFY2(error.contains(QLatin1String("/video/9999")), qPrintable(error));
        QCOMPARE(driver.line("statusbar")->toolTip(), error);
        QCOMPARE(driver.line("url")->text(), external::videoPageAddress(QStringLiteral("9999")));
        QCOMPARE(QDir(outFolder()).entryList(QDir::Files), QStringList{QStringLiteral("Tietovisa.mp4")});
    }

    void outputFolderNotWritable_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("repairMp4");
        QTest::newRow("read-only, converted") << true << true;
        QTest::newRow("read-only, moved") << true << false;
        QTest::newRow("under a regular file, converted") << false << true;
        QTest::newRow("under a regular file, moved") << false << false;
    }

    // Nothing can be staged there, so nothing is fetched: the video is still on
    // the portal, and nothing lands in the working directory instead.
    void outputFolderNotWritable()
    {
        QFETCH(bool, readOnly);
        QFETCH(bool, repairMp4);
        const QString folder = work.filePath(readOnly ? QStringLiteral("locked") : QStringLiteral("plain/out"));
        if (readOnly) {
            // Root writes through file modes, so for root it is a read-only file system.
            QVERIFY(QDir().mkpath(folder));
            const bool made = ::geteuid() == 0 ? mountaccess::mountTmpfs(folder, QStringLiteral("ro,size=1m"))
                                               : QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
            if (!made)
                QSKIP("no way to make a folder read-only for this user here (mount refused)");
        } else {
            QVERIFY(writeFile(work.filePath(QStringLiteral("plain"))));
        }
        const auto unmount = qScopeGuard([&folder] { mountaccess::unmount(folder); }); // fails where none is

        WindowDriver driver;
        driver.startBatch(external::videoPageAddress(QStringLiteral("1006")), folder, 1, repairMp4);
        QVERIFY(driver.waitForEnd(Patience));

        const QString error = soleError(driver, "0/1");
        QVERIFY2(error.contains(folder), qPrintable(error));
        QDirIterator files(work.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!files.hasNext() || files.next().endsWith(QLatin1String("/plain")), qPrintable(files.filePath()));
    }

    void fullDisk_data()
    {
        QTest::addColumn<qint64>("diskSize");
        QTest::addColumn<bool>("repairMp4");
        QTest::addColumn<QString>("failure"); // how the error begins; empty: saved

        const qint64 video = QFileInfo(portal.sourceVideo(QStringLiteral("1002"))).size();
        QTest::newRow("room for the fetched file only")
            << video + 64 * 1024 << true << QStringLiteral("ERROR: kansiosta %1 loppui tila, muunnokseen");
        QTest::newRow("too small for the fetch")
            << video / 2 << true << QStringLiteral("ERROR: lataus jäi kesken, kansiosta %1 loppui tila");
        QTest::newRow("room for the fetched file only, moved") << video + 64 * 1024 << false << QString();
    }

    // The output folder on a disk that cannot hold what the download needs. The
    // failure says so and names the kept file, and no file carries the video's
    // name; once the user has made room, one more press of "Tallenna" goes on
    // from the kept file to the whole video. Moving the fetched file into place
    // needs no room at all.
    void fullDisk()
    {
        QFETCH(qint64, diskSize);
        QFETCH(bool, repairMp4);
        QFETCH(QString, failure);
        const QString id = QStringLiteral("1002");
        SmallDisk disk(outFolder(), diskSize);
        if (!disk.mounted())
            QSKIP(SmallDisk::NoMount);

        WindowDriver driver;
        driver.startBatch(external::videoPageAddress(id), outFolder(), 1, repairMp4);
        QVERIFY(driver.waitForEnd(Patience));
        if (failure.isEmpty()) {
            QCOMPARE(driver.status(), saved);
            QCOMPARE(unsaved(outFolder(), {id}), QString());
            return;
        }
        const QString error = soleError(driver, "0/1");
        QCOMPARE(driver.line("url")->text(), external::videoPageAddress(id));
        QVERIFY2(error.startsWith(failure.arg(outFolder())), qPrintable(error));
        QVERIFY2(error.endsWith(QStringLiteral("säilytetty: ") + kept(id)), qPrintable(error));
        QVERIFY(QFileInfo(kept(id)).size() > 0);
        QCOMPARE(QDir(outFolder()).entryList(QDir::Files), QStringList());

        QVERIFY(disk.resize(diskSize + 4 * 1024 * 1024));
        resumeAndCheck(id);
    }

    // Three episodes of a daily show share their title. Converted, and copied
    // once the record of what was saved is lost, each becomes a file of its own
    // beside an older file of that name, which stays as it was. The program runs
    // from a working directory nobody can write.
    void episodesOfOneTitle()
    {
        const QString older = QDir(outFolder()).filePath(QStringLiteral("Iltauutiset.mp4"));
        QVERIFY(writeFile(older, "last week's episode"));
        const QStringList ids{QStringLiteral("1007"), QStringLiteral("1008"), QStringLiteral("1009")};
        QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));

        WindowDriver driver;
        // Given again, the saved episodes are passed over; with the record of
        // saved videos lost, each is saved once more beside them, never over them.
        const QStringList endTexts{saved, saved + QStringLiteral(" (3 oli jo kansiossa)"), saved};
        for (int pass = 0; pass < 3; ++pass) {
            if (pass == 2) {
                QDir state(isolatedstate::folder() + QStringLiteral("/lumora-downloader"));
                for (const QString &record : state.entryList({QStringLiteral("saved-*")}))
                    QVERIFY(state.remove(record));
            }
            driver.startBatch(pageAddresses(ids), outFolder(), 3, pass == 0);
            QVERIFY(driver.waitForEnd(Patience));
            QCOMPARE(driver.status(), endTexts[pass]);
        }
        QVERIFY(QDir::setCurrent(work.path()));

        const QDir out(outFolder());
        const QStringList episodes = numbered(QStringLiteral("Iltauutiset (%1).mp4"), 6, 2);
        QCOMPARE(out.entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot, QDir::Name),
                 episodes + QStringList{QStringLiteral("Iltauutiset.mp4")});
        QCOMPARE(readFile(older), QByteArray("last week's episode"));
        QStringList sources;
        for (const QString &id : ids)
            sources << portal.sourceVideo(id);
        for (const QStringList &batch : {episodes.mid(0, 3), episodes.mid(3)})
            QVERIFY2(sameDurations(out, batch, sources), qPrintable(batch.join(u' ')));
    }

    // The fetcher killed mid-download is a failure that names the kept partial
    // file and puts the address back in the field; one press of "Tallenna" goes
    // on from the file.
    void fetcherKilledThenResumed()
    {
        const QString id = QStringLiteral("1002");
        WindowDriver driver;
        QVERIFY(startAtOwnPace(driver, id, 40));
        const QStringList fetchers = childProcesses().filter(QStringLiteral("(rtmpdump-zvb)"));
        QCOMPARE(fetchers.size(), 1);
        QVERIFY(signalRunning(pidOf(fetchers.first()), SIGKILL));

        QVERIFY(driver.waitForEnd(Patience));
        const QString error = soleError(driver, "0/1");
        QVERIFY2(error.contains(QStringLiteral("(SIGKILL)")), qPrintable(error));
        QVERIFY2(error.endsWith(QStringLiteral("säilytetty: ") + kept(id)), qPrintable(error));
        QCOMPARE(QDir(outFolder()).entryList(QDir::Files), QStringList());
        QCOMPARE(driver.line("url")->text(), external::videoPageAddress(id));
        // At the video's own pace, so that the first progress shows where it goes on.
        PortalRun::setFastPace(false);
        const auto fast = qScopeGuard([] { PortalRun::setFastPace(true); });
        resumeAndCheck(id, &driver);
    }

    // A conversion that failed keeps the whole fetched file. With the portal
    // gone and the converter back, one press saves the video without a fetcher.
    // Scripted fakes: a converter that fails, a fetcher that finds no portal.
    void convertedWithoutPortal()
    {
        const QString id = QStringLiteral("1006");
        WindowDriver driver;
        {
            FakePrograms broken;
            broken.addConverter("exit 1");
            driver.startBatch(external::videoPageAddress(id), outFolder(), 1);
            QVERIFY(driver.waitForEnd(Patience));
        }
        const QString error = soleError(driver, "0/1");
        QVERIFY2(driver.status().startsWith(failedSummary("0/1") + QStringLiteral("muunnos epäonnistui")),
                 qPrintable(driver.status()));
        QVERIFY2(error.endsWith(QStringLiteral("säilytetty: ") + kept(id)), qPrintable(error));

        FakePrograms portalGone;
        const QString started = work.filePath(QStringLiteral("fetcher started"));
        portalGone.addScript(external::fetcherProgram(),
                             "touch '" + started.toUtf8() + "'; echo 'ERROR: Failed to connect' >&2; exit 1");
        driver.button("pushButton")->click();
        QVERIFY(driver.waitForEnd(Patience));
        QCOMPARE(driver.status(), saved);
        QVERIFY(!QFile::exists(started));
        QCOMPARE(unsaved(outFolder(), {id}), QString());
    }

    // A FAT32 stick mounted for all users shows root as the owner of every file.
    // A normal user saves a video there all the same, and no job folder stays.
    void stickForAllUsers()
    {
        if (::geteuid() != 0)
            QSKIP("running the program as another user needs root");
        const MountedFileSystem stick(MountedFileSystem::Kind::Fat32, QStringLiteral("64M"));
        if (!stick.problem.isEmpty())
            QSKIP(qPrintable(stick.problem));
        QVERIFY(QFile::setPermissions(QFileInfo(stick.path).path(), QFile::ReadOwner | QFile::WriteOwner
                                                                        | QFile::ExeOwner | QFile::ReadOther
                                                                        | QFile::ExeOther));
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.setWorkingDirectory(QStringLiteral("/"));
        program.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                                 QStringLiteral("--clear-groups"), QStringLiteral(LUMORA_BATCHRUN),
                                                 external::videoPageAddress(QStringLiteral("1006")), stick.path});
        QVERIFY(program.waitForFinished(Patience));
        // Nothing of the job stays; FUSE's own hidden names go once it has seen
        // the program's files closed, a moment after the program has ended.
        const auto left = [&] { return entriesBelow(stick.path, QDir::AllEntries | QDir::Hidden); };
        QTRY_COMPARE_WITH_TIMEOUT(left(), QStringList{QStringLiteral("Tietovisa.mp4")}, 5000);
        QVERIFY(sameLength(QDir(stick.path).filePath(left().first()), portal.sourceVideo(QStringLiteral("1006"))));
    }

    // The whole program killed mid-download takes its children with it and
    // leaves the partial file, which the program started again resumes.
    void programKilledThenResumed()
    {
        const QString id = QStringLiteral("1004");
        const qint64 whole = QFileInfo(portal.sourceVideo(id)).size();
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        PortalRun::setFastPace(false);
        program.start(QStringLiteral(LUMORA_BATCHRUN), {external::videoPageAddress(id), outFolder()});
        QVERIFY(program.waitForStarted());
        PortalRun::setFastPace(true);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(kept(id)).size() >= whole * 4 / 10, Patience);
        QVERIFY(signalRunning(program.processId(), SIGKILL));
        QVERIFY(program.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(processesIn(QFileInfo(kept(id)).path()), 0, Patience);
        resumeAndCheck(id);
    }

    // The program killed while its wget waits for an answer takes wget along,
    // rather than leave it to its own retries.
    void programKilledMidSearch()
    {
        LoopbackHttpServer server;
        QVERIFY(server.listenAsPortal());
        server.hold();
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(external::PortalVariable), external::portalUrl());
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(LUMORA_BATCHRUN), {QStringLiteral("uutiset")});
        QVERIFY(program.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(server.targets().size(), 1, Patience);
        const QStringList wget = childProcesses(program.processId()).filter(QStringLiteral("(wget)"));
        QCOMPARE(wget.size(), 1);

        QVERIFY(signalRunning(program.processId(), SIGKILL));
        QVERIFY(program.waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pidOf(wget.first())), Patience);
    }

    // Last: it leaves the portal without its web server.
    void webServerDownDuringSearch()
    {
        QCOMPARE(portal.stopWebServer(), QString());
        WindowDriver driver;
        QDialog *dialog = driver.finishedSearch(QStringLiteral("sää"), Patience);
        QVERIFY(dialog);
        QCOMPARE(WindowDriver::resultRows(dialog),
                 QStringList{QStringLiteral("Haku epäonnistui: palvelimeen ei saatu yhteyttä tai se ei vastannut")});
        QVERIFY(WindowDriver::choose(dialog, {QStringLiteral("Haku epäonnistui")}));
        QCOMPARE(driver.line("url")->text(), QString());
        QVERIFY(driver.controlsEnabled());
    }
};

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"

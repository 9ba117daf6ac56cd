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
#include "mountedfilesystem.h"
#include "portalrun.h"
#include "readonlyfolder.h"
#include "smalldisk.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QDirIterator>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

#include <unistd.h>

namespace {

constexpr int Patience = 120000;
const QString saved = QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!");

QList<double> sortedDurations(const QStringList &files)
{
    QList<double> durations;
    for (const QString &file : files)
        durations << probeMedia(file).duration;
    std::sort(durations.begin(), durations.end());
    return durations;
}

bool sameDurations(const QList<double> &made, const QList<double> &sources)
{
    if (made.size() != sources.size())
        return false;
    for (int i = 0; i < made.size(); ++i) {
        if (qAbs(made[i] - sources[i]) > 0.2)
            return false;
    }
    return true;
}

// The processes of this user whose working directory is `folder`, by /proc.
int processesIn(const QString &folder)
{
    int count = 0;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString entry = it.next();
        if (QFileInfo(entry + QStringLiteral("/cwd")).symLinkTarget() == folder)
            ++count;
    }
    return count;
}

// The stream fetcher this program started, by its "PID (NAME)".
pid_t fetcherChild()
{
    const QStringList fetchers = childProcesses().filter(QStringLiteral("(rtmpdump-zvb)"));
    return fetchers.size() == 1 ? pid_t(fetchers.first().section(u' ', 0, 0).toInt()) : 0;
}

// The bar's values as the window shows them, from the start of a batch.
class BarRecord
{
public:
    explicit BarRecord(WindowDriver &driver)
    {
        QObject::connect(driver.window->findChild<QProgressBar *>(QStringLiteral("progressBar")),
                         &QProgressBar::valueChanged, [this](int value) { values << value; });
    }
    int firstAboveZero() const
    {
        const auto found = std::find_if(values.begin(), values.end(), [](int v) { return v > 0; });
        return found == values.end() ? 0 : *found;
    }
    QList<int> values;
};

} // namespace

class FaultsTest : public PortalSuite
{
    Q_OBJECT

private slots:
    void init();
    void streamServerRestartsMidDownload();
    void unknownVideoAmongGoodOnes();
    void outputFolderNotWritable_data();
    void outputFolderNotWritable();
    void fullDisk_data();
    void fullDisk();
    void episodesOfOneTitle();
    void fetcherKilledThenResumed();
    void convertedWithoutPortal();
    void stickForAllUsers();
    void programKilledThenResumed();
    void programKilledMidSearch();
    // Last: it leaves the portal without its web server.
    void webServerDownDuringSearch();

private:
    QString outFolder() const { return work.filePath(QStringLiteral("out")); }
    QString staged(const QString &id, const QString &name) const
    {
        return outFolder() + QStringLiteral("/.lumora-partial/") + StagingFolder::key(external::videoPageAddress(id))
               + u'/' + name;
    }
    bool startAtOwnPace(WindowDriver &driver, const QString &id, int percent);
    void resumeAndCheck(WindowDriver &driver, const QString &id, const QString &name,
                        const std::function<void()> &start);
};

void FaultsTest::init()
{
    QDir(work.path()).removeRecursively();
    QVERIFY(QDir().mkpath(outFolder()));
    QVERIFY(QDir::setCurrent(work.path()));
}

// One video at its own pace, so that the download has a middle; true once
// the bar has reached `percent`.
bool FaultsTest::startAtOwnPace(WindowDriver &driver, const QString &id, int percent)
{
    PortalRun::setFastPace(false);
    driver.startBatch(external::videoPageAddress(id), outFolder(), 1);
    const bool reached = QTest::qWaitFor([&] { return driver.bar() >= percent; }, Patience);
    PortalRun::setFastPace(true);
    return reached;
}

void FaultsTest::streamServerRestartsMidDownload()
{
    WindowDriver driver;
    QVERIFY(startAtOwnPace(driver, QStringLiteral("1002"), 20));

    QString problem = portal.stopStreamServer();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(driver.bar() < 90, "the download ran too fast to be interrupted");
    problem = portal.startStreamServer();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    QCOMPARE(driver.status(), saved);
    QVERIFY2(driver.statusHistory().filter(QStringLiteral("ERROR")).isEmpty(),
             qPrintable(driver.statusHistory().join(u'\n')));
    QVERIFY(sameLength(QDir(outFolder()).filePath(QStringLiteral("Sää ja ilmasto.mp4")),
                            portal.sourceVideo(QStringLiteral("1002"))));
    QCOMPARE(QDir(work.path()).entryList({QStringLiteral("*.flv*")}, QDir::Files), QStringList());
}

void FaultsTest::unknownVideoAmongGoodOnes()
{
    WindowDriver driver;
    driver.startBatch(external::videoPageAddress(QStringLiteral("9999")) + u';'
                          + external::videoPageAddress(QStringLiteral("1006")),
                      outFolder(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);

    QVERIFY2(driver.status().startsWith(QStringLiteral("Valmis: 1/2 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: ")), qPrintable(driver.status()));
    QCOMPARE(driver.line("url")->text(), external::videoPageAddress(QStringLiteral("9999")));
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains(QLatin1String("/video/9999")), qPrintable(errors.first()));
    QCOMPARE(driver.line("statusbar")->toolTip(), errors.first());
    QCOMPARE(QDir(outFolder()).entryList(QDir::Files), QStringList{QStringLiteral("Tietovisa.mp4")});
}

void FaultsTest::outputFolderNotWritable_data()
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
void FaultsTest::outputFolderNotWritable()
{
    QFETCH(bool, readOnly);
    QFETCH(bool, repairMp4);
    QString folder = outFolder();
    std::unique_ptr<ReadOnlyFolder> guard;
    if (readOnly) {
        guard = std::make_unique<ReadOnlyFolder>(work.filePath(QStringLiteral("locked")));
        if (!guard->made)
            QSKIP("no way to make a folder read-only for this user here (mount refused)");
        folder = work.filePath(QStringLiteral("locked"));
    } else {
        QVERIFY(writeFile(work.filePath(QStringLiteral("plain"))));
        folder = work.filePath(QStringLiteral("plain/out"));
    }

    WindowDriver driver;
    driver.startBatch(external::videoPageAddress(QStringLiteral("1006")), folder, 1, repairMp4);
    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);

    QVERIFY2(driver.status().startsWith(QStringLiteral("Valmis: 0/1 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: ")), qPrintable(driver.status()));
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains(folder), qPrintable(errors.first()));
    QDirIterator files(work.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QVERIFY2(!files.hasNext() || files.next().endsWith(QLatin1String("/plain")), qPrintable(files.filePath()));
}

void FaultsTest::fullDisk_data()
{
    QTest::addColumn<qint64>("diskSize");
    QTest::addColumn<bool>("repairMp4");
    QTest::addColumn<QString>("failure"); // how the error begins; empty: saved

    const qint64 video = QFileInfo(portal.sourceVideo(QStringLiteral("1002"))).size();
    QTest::newRow("room for the fetched file only") << video + 64 * 1024 << true
                                                    << QStringLiteral("ERROR: kansiosta %1 loppui tila, muunnokseen");
    QTest::newRow("too small for the fetch") << video / 2 << true
                                             << QStringLiteral("ERROR: lataus jäi kesken, kansiosta %1 loppui tila");
    QTest::newRow("room for the fetched file only, moved") << video + 64 * 1024 << false << QString();
}

// The output folder on a disk that cannot hold what the download needs. The
// failure says so and names the kept file, and no file carries the video's
// name; once the user has made room, one more press of "Tallenna" goes on
// from the kept file to the whole video. Moving the fetched file into place
// needs no room at all.
void FaultsTest::fullDisk()
{
    QFETCH(qint64, diskSize);
    QFETCH(bool, repairMp4);
    QFETCH(QString, failure);
    const QString id = QStringLiteral("1002");
    const QString name = QStringLiteral("Sää ja ilmasto");
    SmallDisk disk(outFolder(), diskSize);
    if (!disk.mounted())
        QSKIP(SmallDisk::NoMount);

    WindowDriver driver;
    driver.startBatch(external::videoPageAddress(id), outFolder(), 1, repairMp4);
    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    if (failure.isEmpty()) {
        QCOMPARE(driver.status(), saved);
        QVERIFY(sameLength(QDir(outFolder()).filePath(name + QStringLiteral(".mp4")), portal.sourceVideo(id)));
        QCOMPARE(QDir(outFolder()).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot),
                 QStringList{name + QStringLiteral(".mp4")});
        return;
    }
    QVERIFY2(driver.status().startsWith(QStringLiteral("Valmis: 0/1 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: ")), qPrintable(driver.status()));
    QCOMPARE(driver.line("url")->text(), external::videoPageAddress(id));
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    QCOMPARE(errors.size(), 1);
    const QString kept = staged(id, name + QStringLiteral(".flv"));
    QVERIFY2(errors.first().startsWith(failure.arg(outFolder())), qPrintable(errors.first()));
    QVERIFY2(errors.first().endsWith(QStringLiteral("säilytetty: ") + kept), qPrintable(errors.first()));
    QVERIFY(QFileInfo(kept).size() > 0);
    QCOMPARE(QDir(outFolder()).entryList(QDir::Files), QStringList());

    QVERIFY(disk.resize(diskSize + 4 * 1024 * 1024));
    WindowDriver again;
    resumeAndCheck(again, id, name,
                   [&] { again.startBatch(external::videoPageAddress(id), outFolder(), 1); });
}

// Three episodes of a daily show share their title. Converted, and copied
// once the record of what was saved is lost, each becomes a file of its own
// beside an older file of that name, which stays as it was. The program runs from a working
// directory nobody can write.
void FaultsTest::episodesOfOneTitle()
{
    const QString older = QDir(outFolder()).filePath(QStringLiteral("Iltauutiset.mp4"));
    QVERIFY(writeFile(older, "last week's episode"));
    const QStringList ids{QStringLiteral("1007"), QStringLiteral("1008"), QStringLiteral("1009")};
    QStringList addresses, sources;
    for (const QString &id : ids) {
        addresses << external::videoPageAddress(id);
        sources << portal.sourceVideo(id);
    }
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
        driver.startBatch(addresses.join(u';'), outFolder(), 3, pass == 0);
        QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
        QCOMPARE(driver.status(), endTexts[pass]);
    }
    QVERIFY(QDir::setCurrent(work.path()));

    QCOMPARE(QDir(outFolder()).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot, QDir::Name),
             QStringList({"Iltauutiset (2).mp4", "Iltauutiset (3).mp4", "Iltauutiset (4).mp4", "Iltauutiset (5).mp4",
                          "Iltauutiset (6).mp4", "Iltauutiset (7).mp4", "Iltauutiset.mp4"}));
    QCOMPARE(readFile(older), QByteArray("last week's episode"));
    const QList<double> expected = sortedDurations(sources);
    const QDir out(outFolder());
    for (const QStringList &batch : {QStringList{"(2)", "(3)", "(4)"}, QStringList{"(5)", "(6)", "(7)"}}) {
        QStringList files;
        for (const QString &number : batch)
            files << out.filePath(QStringLiteral("Iltauutiset %1.mp4").arg(number));
        QVERIFY2(sameDurations(sortedDurations(files), expected), qPrintable(files.join(u' ')));
    }
}

// The fetcher killed mid-download is a failure that names the kept partial
// file and puts the address back in the field; one press of "Tallenna" goes
// on from the file.
void FaultsTest::fetcherKilledThenResumed()
{
    WindowDriver driver;
    QVERIFY(startAtOwnPace(driver, QStringLiteral("1002"), 40));
    const pid_t fetcher = fetcherChild();
    QVERIFY(fetcher > 0);
    QCOMPARE(::kill(fetcher, SIGKILL), 0);

    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    QVERIFY2(driver.status().startsWith(QStringLiteral("Valmis: 0/1 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: ")), qPrintable(driver.status()));
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    QCOMPARE(errors.size(), 1);
    const QString partial = staged(QStringLiteral("1002"), QStringLiteral("Sää ja ilmasto.flv"));
    QVERIFY2(errors.first().contains(QStringLiteral("(SIGKILL)")), qPrintable(errors.first()));
    QVERIFY2(errors.first().endsWith(QStringLiteral("säilytetty: ") + partial), qPrintable(errors.first()));
    QCOMPARE(QDir(outFolder()).entryList(QDir::Files), QStringList());
    QCOMPARE(driver.line("url")->text(), external::videoPageAddress(QStringLiteral("1002")));
    // At the video's own pace, so that the first progress shows where it goes on.
    PortalRun::setFastPace(false);
    const auto fast = qScopeGuard([] { PortalRun::setFastPace(true); });
    resumeAndCheck(driver, QStringLiteral("1002"), QStringLiteral("Sää ja ilmasto"),
                   [&driver] { driver.button("pushButton")->click(); });
}

// A conversion that failed keeps the whole fetched file. With the portal
// gone and the converter back, one press saves the video without a fetcher.
void FaultsTest::convertedWithoutPortal()
{
    const QString id = QStringLiteral("1006");
    WindowDriver driver;
    {
        FakePrograms broken;
        broken.addScript(external::converterProgram(), "exit 1");
        driver.startBatch(external::videoPageAddress(id), outFolder(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    }
    QVERIFY2(driver.status().startsWith(QStringLiteral("Valmis: 0/1 tallennettu, 1 epäonnistui – 1 palautettu kenttään. "
                                                       "Syy: muunnos epäonnistui")),
             qPrintable(driver.status()));
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().endsWith(QStringLiteral("säilytetty: ") + staged(id, QStringLiteral("Tietovisa.flv"))),
             qPrintable(errors.first()));

    FakePrograms portalGone;
    const QString started = work.filePath(QStringLiteral("fetcher started"));
    portalGone.addScript(external::fetcherProgram(),
                         "touch '" + started.toUtf8() + "'; echo 'ERROR: Failed to connect' >&2; exit 1");
    driver.button("pushButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    QCOMPARE(driver.status(), saved);
    QVERIFY(!QFile::exists(started));
    QVERIFY(sameLength(QDir(outFolder()).filePath(QStringLiteral("Tietovisa.mp4")), portal.sourceVideo(id)));
    QCOMPARE(QDir(outFolder()).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Tietovisa.mp4")});
}

// A FAT32 stick mounted for all users shows root as the owner of every file.
// A normal user saves a video there all the same, and no job folder stays.
void FaultsTest::stickForAllUsers()
{
    if (::geteuid() != 0)
        QSKIP("running the program as another user needs root");
    const MountedFileSystem stick(MountedFileSystem::Kind::Fat32, QStringLiteral("64M"));
    if (!stick.problem.isEmpty())
        QSKIP(qPrintable(stick.problem));
    QVERIFY(QFile::setPermissions(QFileInfo(stick.path).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                                    | QFile::ReadOther | QFile::ExeOther));
    const QString id = QStringLiteral("1006");
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setWorkingDirectory(QStringLiteral("/"));
    program.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                             QStringLiteral("--clear-groups"), QStringLiteral(LUMORA_BATCHRUN),
                                             external::videoPageAddress(id), stick.path});
    QVERIFY(program.waitForFinished(Patience));
    // Nothing of the job stays; FUSE's own hidden names go once it has seen
    // the program's files closed, a moment after the program has ended.
    const auto left = [&] {
        QStringList names;
        for (QDirIterator it(stick.path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            names << it.next().mid(stick.path.size() + 1);
        return names;
    };
    QTRY_COMPARE_WITH_TIMEOUT(left(), QStringList{QStringLiteral("Tietovisa.mp4")}, 5000);
    QVERIFY(sameLength(QDir(stick.path).filePath(QStringLiteral("Tietovisa.mp4")), portal.sourceVideo(id)));
}

// The whole program killed mid-download takes its children with it and
// leaves the partial file, which the program started again resumes.
void FaultsTest::programKilledThenResumed()
{
    const QString partial = staged(QStringLiteral("1004"), QStringLiteral("Öljymaalauksen alkeet.flv"));
    const qint64 whole = QFileInfo(portal.sourceVideo(QStringLiteral("1004"))).size();
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    PortalRun::setFastPace(false);
    program.start(QStringLiteral(LUMORA_BATCHRUN),
                  {external::videoPageAddress(QStringLiteral("1004")), outFolder()});
    QVERIFY(program.waitForStarted());
    PortalRun::setFastPace(true);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(partial).size() >= whole * 4 / 10, Patience);
    QVERIFY(signalRunning(program.processId(), SIGKILL));
    QVERIFY(program.waitForFinished());
    QTRY_COMPARE_WITH_TIMEOUT(processesIn(QFileInfo(partial).path()), 0, Patience);
    WindowDriver driver;
    resumeAndCheck(driver, QStringLiteral("1004"), QStringLiteral("Öljymaalauksen alkeet"), [&] {
        driver.startBatch(external::videoPageAddress(QStringLiteral("1004")), outFolder(), 1);
    });
}

// The program killed while its wget waits for an answer takes wget along,
// rather than leave it to its own retries.
void FaultsTest::programKilledMidSearch()
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
    const qint64 wgetPid = wget.first().section(u' ', 0, 0).toLongLong();

    QVERIFY(signalRunning(program.processId(), SIGKILL));
    QVERIFY(program.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(processGone(wgetPid), Patience);
}

// A download of the address again: its first progress is where the partial
// file ended, not 0, and the video is whole.
void FaultsTest::resumeAndCheck(WindowDriver &driver, const QString &id, const QString &name,
                                const std::function<void()> &start)
{
    BarRecord bar(driver);
    start();
    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    QCOMPARE(driver.status(), saved);
    QVERIFY2(bar.firstAboveZero() >= 35, qPrintable(QString::number(bar.firstAboveZero())));
    QVERIFY(sameLength(QDir(outFolder()).filePath(name + QStringLiteral(".mp4")), portal.sourceVideo(id)));
    QCOMPARE(QDir(outFolder()).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot),
             QStringList{name + QStringLiteral(".mp4")});
}

void FaultsTest::webServerDownDuringSearch()
{
    const QString problem = portal.stopWebServer();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    WindowDriver driver;
    QDialog *dialog = driver.search(QStringLiteral("sää"));
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(WindowDriver::searchEnded(dialog), Patience);
    QCOMPARE(WindowDriver::resultList(dialog)->count(), 1);
    QCOMPARE(WindowDriver::resultList(dialog)->item(0)->text(),
             QStringLiteral("Haku epäonnistui: palvelimeen ei saatu yhteyttä tai se ei vastannut"));
    QVERIFY(WindowDriver::choose(dialog, {QStringLiteral("Haku epäonnistui")}));
    QCOMPARE(driver.line("url")->text(), QString());
    QVERIFY(driver.controlsEnabled());
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"

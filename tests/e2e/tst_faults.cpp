// Faults against the demo portal, and that nothing is lost through them: a
// stream server that goes away and comes back, a video the portal does not
// have, an output folder that cannot be written, a web server that is down.
#include "external/externalprograms.h"
#include "mediaclip.h"
#include "portalrun.h"
#include "windowdriver.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace {

constexpr int Patience = 120000;
const QString saved = QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!");

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

bool durationMatches(const QString &file, const QString &source)
{
    const MediaInfo made = probeMedia(file);
    return made.valid() && qAbs(made.duration - probeMedia(source).duration) <= 0.2;
}

// An output folder nobody may write to. Root writes through file modes, so for
// root it is a read-only file system, which needs the right to mount.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path) : path(path)
    {
        QDir().mkpath(path);
        if (::geteuid() != 0) {
            made = QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
            return;
        }
        mounted = run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                               QStringLiteral("-o"), QStringLiteral("ro,size=1m"),
                                               QStringLiteral("tmpfs"), path});
        made = mounted;
    }
    ~ReadOnlyFolder()
    {
        if (mounted)
            run(QStringLiteral("umount"), {path});
        else
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;

    bool made = false;

private:
    QString path;
    bool mounted = false;
};

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void streamServerRestartsMidDownload();
    void unknownVideoAmongGoodOnes();
    void outputFolderNotWritable_data();
    void outputFolderNotWritable();
    // Last: it leaves the portal without its web server.
    void webServerDownDuringSearch();

private:
    QString outFolder() const { return work.filePath(QStringLiteral("out")); }

    PortalRun portal;
    QTemporaryDir work;
};

void FaultsTest::initTestCase()
{
    QVERIFY(work.isValid());
    const QString problem = portal.start(work.path());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void FaultsTest::cleanupTestCase()
{
    const QString problem = portal.stop();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void FaultsTest::init()
{
    QDir(work.path()).removeRecursively();
    QVERIFY(QDir().mkpath(outFolder()));
    QVERIFY(QDir::setCurrent(work.path()));
}

// The shortest video at its own pace, so that the download has a middle.
void FaultsTest::streamServerRestartsMidDownload()
{
    WindowDriver driver;
    PortalRun::setFastPace(false);
    driver.startBatch(external::videoPageAddress(QStringLiteral("1002")), outFolder(), 1);
    PortalRun::setFastPace(true);
    QTRY_VERIFY_WITH_TIMEOUT(driver.bar() >= 20, Patience);

    QString problem = portal.stopStreamServer();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(driver.bar() < 90, "the download ran too fast to be interrupted");
    problem = portal.startStreamServer();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);
    QCOMPARE(driver.status(), saved);
    QVERIFY2(driver.statusHistory().filter(QStringLiteral("ERROR")).isEmpty(),
             qPrintable(driver.statusHistory().join(u'\n')));
    QVERIFY(durationMatches(QDir(outFolder()).filePath(QStringLiteral("Sää ja ilmasto.mp4")),
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

    QCOMPARE(driver.status(), QStringLiteral("Valmis: 1/2 tallennettu, 1 epäonnistui"));
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
        QFile plain(work.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        folder = plain.fileName() + QStringLiteral("/out");
    }

    WindowDriver driver;
    driver.startBatch(external::videoPageAddress(QStringLiteral("1006")), folder, 1, repairMp4);
    QTRY_VERIFY_WITH_TIMEOUT(driver.controlsEnabled(), Patience);

    QCOMPARE(driver.status(), QStringLiteral("Valmis: 0/1 tallennettu, 1 epäonnistui"));
    const QStringList errors = driver.statusHistory().filter(QStringLiteral("ERROR"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().endsWith(QStringLiteral("säilytetty: Tietovisa.flv")), qPrintable(errors.first()));
    QVERIFY(durationMatches(work.filePath(QStringLiteral("Tietovisa.flv")),
                            portal.sourceVideo(QStringLiteral("1006"))));
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
             QStringLiteral("Haku epäonnistui: palvelimeen ei saatu yhteyttä"));
    QVERIFY(WindowDriver::choose(dialog, {QStringLiteral("Haku epäonnistui")}));
    QCOMPARE(driver.line("url")->text(), QString());
    QVERIFY(driver.controlsEnabled());
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"

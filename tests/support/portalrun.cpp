#include "portalrun.h"

#include "external/externalprograms.h"
#include "external/portaladdresses.h"
#include "leftovers.h"
#include "mediaclip.h"
#include "programrun.h"
#include "testfiles.h"

#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {

constexpr int ScriptPatience = 180000;
constexpr int ServerPatience = 15000;

bool streamPortAnswers()
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(QUrl(external::streamUrl()).port(1935)));
    return socket.waitForConnected(1000);
}

} // namespace

QString stopByPidFile(const QString &pidFile)
{
    bool ok = false;
    const qint64 pid = readFile(pidFile).trimmed().toLongLong(&ok);
    if (!ok || !signalRunning(pid, SIGTERM))
        return QStringLiteral("no running server in ") + pidFile;
    if (!QTest::qWaitFor([pid] { return processGone(pid); }, ServerPatience))
        return QStringLiteral("the server of %1 did not stop").arg(pidFile);
    return QString();
}

QString pageAddresses(const QStringList &ids)
{
    QStringList addresses;
    for (const QString &id : ids)
        addresses << external::videoPageAddress(id);
    return addresses.join(u';');
}

PortalRun::PortalRun(const QString &catalogue)
    : buildDir(QStringLiteral(LUMORA_BUILD_DIR)),
      catalogueFile(catalogue.isEmpty() ? QStringLiteral(LUMORA_SOURCE_DIR "/demo/catalogue.tsv") : catalogue)
{
    if (catalogue.isEmpty())
        return;
    // scripts/portal learns the catalogue from the build's portal.env, so
    // another catalogue needs a copy of that file naming it.
    QByteArray env = readFile(buildDir + QStringLiteral("/demo/portal.env"));
    const qsizetype line = env.indexOf("\nCATALOGUE=");
    const qsizetype lineEnd = env.indexOf('\n', line + 1);
    if (line >= 0 && lineEnd > line)
        env.replace(line + 1, lineEnd - line - 1, "CATALOGUE=" + QFile::encodeName(catalogue));
    buildDir = folder.filePath(QStringLiteral("build"));
    QDir().mkpath(buildDir + QStringLiteral("/demo"));
    writeFile(buildDir + QStringLiteral("/demo/portal.env"), env);
}

QString PortalRun::start(const QString &workingDir)
{
    if (const QString problem = portalScript(QStringLiteral("start")); !problem.isEmpty())
        return problem;
    // The ports are the system's choice: this process and the programs it
    // starts learn them from the run folder.
    const QByteArray address = readFile(runPath(QStringLiteral("portal.address"))).trimmed();
    if (address.isEmpty())
        return QStringLiteral("scripts/portal start wrote no portal.address");
    if (const QString wrong = external::choosePortal(QString::fromLatin1(address)); !wrong.isEmpty())
        return wrong;
    qputenv(external::PortalVariable, address);
    qputenv("PATH", QByteArray(LUMORA_STANDIN_DIR) + ':' + qgetenv("PATH"));
    setFastPace(true);
    return QDir::setCurrent(workingDir) ? QString() : QStringLiteral("cannot enter ") + workingDir;
}

QString PortalRun::stop()
{
    QDir::setCurrent(QDir::tempPath());
    return portalScript(QStringLiteral("stop"));
}

QString PortalRun::stopStreamServer()
{
    return stopByPidFile(runPath(QStringLiteral("nginx.pid")));
}

QString PortalRun::startStreamServer()
{
    QProcess nginx;
    nginx.start(QStringLiteral("nginx"), {QStringLiteral("-p"), runPath(QStringLiteral("nginx/")),
                                          QStringLiteral("-c"), runPath(QStringLiteral("nginx.conf")),
                                          QStringLiteral("-e"), runPath(QStringLiteral("nginx/logs/error.log"))});
    if (!nginx.waitForFinished(ServerPatience) || nginx.exitCode() != 0)
        return QStringLiteral("nginx did not start again: ") + QString::fromLocal8Bit(nginx.readAllStandardError());
    if (!QTest::qWaitFor(streamPortAnswers, ServerPatience))
        return QStringLiteral("nginx does not answer again");
    return QString();
}

QString PortalRun::stopWebServer()
{
    return stopByPidFile(runPath(QStringLiteral("portal.pid")));
}

QString PortalRun::sourceVideo(const QString &id) const
{
    return runPath(QStringLiteral("videos/") + id + QStringLiteral(".flv"));
}

QString PortalRun::title(const QString &id) const
{
    for (const QByteArray &line : readFile(catalogueFile).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() > 1 && fields[0] == id.toUtf8())
            return QString::fromUtf8(fields[1]);
    }
    return QString();
}

void PortalRun::setFastPace(bool fast)
{
    if (fast)
        qputenv("LUMORA_STANDIN_FAST", "1");
    else
        qunsetenv("LUMORA_STANDIN_FAST");
}

QString PortalRun::portalScript(const QString &action)
{
    if (!folder.isValid())
        return QStringLiteral("no temporary folder");
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BUILD_DIR"), buildDir);
    script.setProcessEnvironment(env);
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QStringLiteral(LUMORA_SOURCE_DIR "/scripts/portal"), action, runPath({})});
    const Finished done = finishProcess(script, ScriptPatience);
    if (done.exitCode != 0)
        return QStringLiteral("scripts/portal %1 failed: ").arg(action) + QString::fromLocal8Bit(done.out + done.err);
    return QString();
}

QString PortalRun::runPath(const QString &name) const
{
    return folder.filePath(QStringLiteral("run/") + name);
}

void PortalSuite::initTestCase()
{
    QVERIFY(work.isValid());
    QCOMPARE(portal.start(work.path()), QString());
}

void PortalSuite::cleanupTestCase()
{
    QCOMPARE(portal.stop(), QString());
}

QString PortalSuite::unsaved(const QString &folder, const QStringList &ids) const
{
    QStringList expected;
    for (const QString &id : ids) {
        expected << portal.title(id) + QStringLiteral(".mp4");
        if (!sameLength(QDir(folder).filePath(expected.last()), portal.sourceVideo(id)))
            return QStringLiteral("not whole: ") + expected.last();
    }
    expected.sort();
    QStringList found = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    found.sort();
    if (found != expected)
        return QStringLiteral("in the folder: ") + found.join(QStringLiteral(", "));
    const QStringList fetched = QDir(work.path()).entryList({QStringLiteral("*.flv*")}, QDir::Files);
    return fetched.isEmpty() ? QString() : QStringLiteral("fetched files left: ") + fetched.join(QStringLiteral(", "));
}

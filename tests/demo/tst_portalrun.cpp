// The demo portal as it runs: scripts/portal with the real nginx-rtmp and our
// HTTP server, and the rtmpdump-zvb stand-in fetching with Debian's rtmpdump.
#include <QtTest>
#include <QTcpSocket>

#include <csignal>

namespace {

const QString runScriptPath = QStringLiteral(LUMORA_SOURCE_DIR "/scripts/portal");
const QString rtmpUrl = QStringLiteral(LUMORA_STREAM_URL "/LumoraServer");

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished runProgram(QProcess &process, int timeoutMs)
{
    Finished result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = process.errorString().toUtf8() + ": " + process.readAllStandardError();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

quint16 portOf(const char *url)
{
    return quint16(QUrl(QString::fromLatin1(url)).port());
}

double probeDuration(const QString &file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   QStringLiteral("format=duration"), QStringLiteral("-of"),
                   QStringLiteral("csv=p=0"), file});
    const Finished done = runProgram(ffprobe, 30000);
    bool ok = false;
    const double seconds = done.out.trimmed().toDouble(&ok);
    return ok && done.exitCode == 0 ? seconds : -1;
}

// The time of the last video frame, read from the packets rather than the metadata.
double lastVideoFrame(const QString &file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("v"), QStringLiteral("-show_entries"),
                   QStringLiteral("packet=pts_time"), QStringLiteral("-of"),
                   QStringLiteral("csv=p=0"), file});
    const Finished done = runProgram(ffprobe, 30000);
    const QList<QByteArray> lines = done.out.trimmed().split('\n');
    bool ok = false;
    const double seconds = lines.last().trimmed().toDouble(&ok);
    return ok && done.exitCode == 0 ? seconds : -1;
}

bool decodesCleanly(const QString &file)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"),
                                            QStringLiteral("error"), QStringLiteral("-i"), file,
                                            QStringLiteral("-f"), QStringLiteral("null"),
                                            QStringLiteral("-")});
    const Finished done = runProgram(ffmpeg, 60000);
    return done.exitCode == 0 && done.err.trimmed().isEmpty();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The last "(NN.N%)" that rtmpdump's progress showed.
double lastPercent(const QByteArray &stderrText)
{
    static const QRegularExpression percent(QStringLiteral("\\((\\d+\\.\\d)%\\)"));
    double last = -1;
    for (const auto &match : percent.globalMatch(QString::fromLatin1(stderrText)))
        last = match.captured(1).toDouble();
    return last;
}

} // namespace

class PortalRunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void secondStartIsRefused();
    void searchThroughWget_data();
    void searchThroughWget();
    void requestSplitAcrossWrites();
    void silentClientIsDropped();
    void fetchesCatalogueVideo_data();
    void fetchesCatalogueVideo();
    void refusesBadInput_data();
    void refusesBadInput();
    void resumesAfterStreamServerRestart();

private:
    Finished portalScript(const QString &action);
    void startStandin(QProcess &process, const QString &workDir, const QString &videoId,
                      bool fast, const QStringList &extra = {});
    QString sourceVideo(const QString &id) const { return m_run.filePath("videos/" + id + ".flv"); }
    bool restartNginx();

    QTemporaryDir m_run;
};

Finished PortalRunTest::portalScript(const QString &action)
{
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BUILD_DIR"), QStringLiteral(LUMORA_BUILD_DIR));
    script.setProcessEnvironment(env);
    script.start(QStringLiteral("bash"), {runScriptPath, action, m_run.path()});
    return runProgram(script, 180000);
}

void PortalRunTest::startStandin(QProcess &process, const QString &workDir,
                                 const QString &videoId, bool fast, const QStringList &extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"),
               QStringLiteral(LUMORA_STANDIN_DIR ":") + env.value(QStringLiteral("PATH")));
    if (fast)
        env.insert(QStringLiteral("LUMORA_STANDIN_FAST"), QStringLiteral("1"));
    else
        env.remove(QStringLiteral("LUMORA_STANDIN_FAST"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir);
    // QProcess looks programs up on our own PATH, not the child's.
    process.start(QStringLiteral(LUMORA_STANDIN_DIR "/rtmpdump-zvb"),
                  QStringList{QStringLiteral("--rtmp"), rtmpUrl, QStringLiteral("--swfUrl"),
                              QStringLiteral(LUMORA_PORTAL_URL "/player/Application.swf?build=1"),
                              QStringLiteral("--timeout"), QStringLiteral("60"),
                              QStringLiteral("--autoResume"), QStringLiteral("5"),
                              QStringLiteral("--pageUrl"),
                              QStringLiteral(LUMORA_PORTAL_URL "/video/") + videoId}
                      + extra);
}

void PortalRunTest::initTestCase()
{
    QVERIFY(m_run.isValid());
    const Finished started = portalScript(QStringLiteral("start"));
    QVERIFY2(started.exitCode == 0, started.err.constData());
    QCOMPARE(portalScript(QStringLiteral("status")).exitCode, 0);
}

void PortalRunTest::cleanupTestCase()
{
    const Finished stopped = portalScript(QStringLiteral("stop"));
    QVERIFY2(stopped.exitCode == 0, stopped.err.constData());
    QCOMPARE(portalScript(QStringLiteral("stop")).exitCode, 0);
    QCOMPARE(portalScript(QStringLiteral("status")).exitCode, 3);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, portOf(LUMORA_STREAM_URL));
    QVERIFY(!socket.waitForConnected(2000));
}

void PortalRunTest::secondStartIsRefused()
{
    const Finished again = portalScript(QStringLiteral("start"));
    QVERIFY(again.exitCode != 0);
    QVERIFY2(again.err.contains("already running"), again.err.constData());
    QCOMPARE(portalScript(QStringLiteral("status")).exitCode, 0);
}

void PortalRunTest::searchThroughWget_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("hits");
    QTest::newRow("ä typed by the user") << QStringLiteral("sää") << 1;
    QTest::newRow("upper case Ä") << QStringLiteral("ÄÄNI") << 1;
    QTest::newRow("blank and quote") << QStringLiteral("kuka tietää eniten?") << 1;
    QTest::newRow("no hits") << QStringLiteral("jääkiekko") << 0;
    QTest::newRow("empty lists all") << QString() << 6;
}

void PortalRunTest::searchThroughWget()
{
    QFETCH(QString, word);
    QFETCH(int, hits);
    QProcess wget;
    wget.start(QStringLiteral("wget"),
               {QStringLiteral("--quiet"), QStringLiteral("-O"), QStringLiteral("-"),
                QStringLiteral(LUMORA_PORTAL_URL "/haku//uusimmat/hakusana/") + word
                    + QStringLiteral("/media/video")});
    const Finished done = runProgram(wget, 30000);
    QCOMPARE(done.exitCode, 0);
    QCOMPARE(int(done.out.count("<div class=\"hit\">")), hits);
    QCOMPARE(int(done.out.count("href=\"/video/")), 4 * hits);
}

void PortalRunTest::requestSplitAcrossWrites()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, portOf(LUMORA_PORTAL_URL));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /video/10");
    QVERIFY(socket.waitForBytesWritten(5000));
    QVERIFY(!socket.waitForReadyRead(300));
    socket.write("02 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 10000);
    const QByteArray response = socket.readAll();
    QVERIFY2(response.startsWith("HTTP/1.0 200 OK\r\n"), response.constData());
    const QByteArray body = response.mid(response.indexOf("\r\n\r\n") + 4);
    QVERIFY(response.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
    QVERIFY(body.contains("content=\"1002.flv\""));
}

void PortalRunTest::silentClientIsDropped()
{
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, portOf(LUMORA_PORTAL_URL));
    QVERIFY(silent.waitForConnected(5000));
    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, portOf(LUMORA_PORTAL_URL));
    QVERIFY(other.waitForConnected(5000));
    other.write("GET /nothing HTTP/1.0\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(other.state(), QAbstractSocket::UnconnectedState, 10000);
    QVERIFY(other.readAll().startsWith("HTTP/1.0 404"));
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 30000);
}

void PortalRunTest::fetchesCatalogueVideo_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("title with ä") << QStringLiteral("1002") << QStringLiteral("Sää ja ilmasto.flv");
    QTest::newRow("title starting with Ö") << QStringLiteral("1004") << QStringLiteral("Öljymaalauksen alkeet.flv");
    QTest::newRow("plain title") << QStringLiteral("1006") << QStringLiteral("Tietovisa.flv");
}

void PortalRunTest::fetchesCatalogueVideo()
{
    QFETCH(QString, id);
    QFETCH(QString, fileName);
    QTemporaryDir work;
    QProcess standin;
    startStandin(standin, work.path(), id, true);
    const Finished done = runProgram(standin, 120000);
    QVERIFY2(done.exitCode == 0, done.err.constData());
    QCOMPARE(done.err.count("Saving to "), 1);
    QVERIFY(done.err.startsWith("Saving to " + fileName.toUtf8() + '\n'));
    QVERIFY(!done.err.contains("ERROR"));
    QVERIFY2(!done.err.contains("WARNING") && done.err.contains("Download complete"),
             done.err.constData());
    QVERIFY(done.err.contains("%)\r") || done.err.contains("%)\n"));
    QCOMPARE(lastPercent(done.err), 100.0);

    const QString saved = work.filePath(fileName);
    QVERIFY2(QFile::exists(saved), qPrintable(QDir(work.path()).entryList().join(", ")));
    QVERIFY(fileBytes(saved).startsWith("FLV"));
    QVERIFY(decodesCleanly(saved));
    const double expected = probeDuration(sourceVideo(id));
    QVERIFY(expected > 0);
    QVERIFY2(qAbs(probeDuration(saved) - expected) <= 0.2, qPrintable(QString::number(expected)));
    const double lastFrame = lastVideoFrame(sourceVideo(id));
    QVERIFY(lastFrame > 0);
    QVERIFY(qAbs(lastVideoFrame(saved) - lastFrame) <= 0.2);
}

void PortalRunTest::refusesBadInput_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("unknown option") << QStringLiteral("1002") << QStringList{"--live", "1"};
    QTest::newRow("unknown video") << QStringLiteral("9999") << QStringList{};
}

void PortalRunTest::refusesBadInput()
{
    QFETCH(QString, id);
    QFETCH(QStringList, extra);
    QTemporaryDir work;
    QProcess standin;
    startStandin(standin, work.path(), id, true, extra);
    const Finished done = runProgram(standin, 60000);
    QVERIFY(done.exitCode > 0);
    QVERIFY2(done.err.startsWith("ERROR"), done.err.constData());
    QVERIFY(!done.err.contains("Saving to"));
    QVERIFY(QDir(work.path()).isEmpty());
}

bool PortalRunTest::restartNginx()
{
    bool ok = false;
    const qint64 pid = fileBytes(m_run.filePath(QStringLiteral("nginx.pid"))).trimmed().toLongLong(&ok);
    if (!ok || ::kill(pid_t(pid), SIGTERM) != 0)
        return false;
    QDeadlineTimer gone(15000);
    while (::kill(pid_t(pid), 0) == 0 && !gone.hasExpired())
        QTest::qWait(50);
    QProcess nginx;
    nginx.start(QStringLiteral("nginx"),
                {QStringLiteral("-p"), m_run.filePath(QStringLiteral("nginx")) + '/',
                 QStringLiteral("-c"), m_run.filePath(QStringLiteral("nginx.conf")),
                 QStringLiteral("-e"), m_run.filePath(QStringLiteral("nginx/logs/error.log"))});
    return runProgram(nginx, 30000).exitCode == 0;
}

// A real interruption: the stream server goes away halfway and comes back. The
// resumed file must be the very file an uninterrupted download gives.
void PortalRunTest::resumesAfterStreamServerRestart()
{
    const QString id = QStringLiteral("1004");
    const QString fileName = QStringLiteral("Öljymaalauksen alkeet.flv");
    QTemporaryDir straight;
    QProcess reference;
    startStandin(reference, straight.path(), id, true);
    QCOMPARE(runProgram(reference, 120000).exitCode, 0);

    QTemporaryDir work;
    QProcess standin;
    QByteArray err;
    connect(&standin, &QProcess::readyReadStandardError, this,
            [&] { err += standin.readAllStandardError(); });
    startStandin(standin, work.path(), id, false);
    QTRY_VERIFY_WITH_TIMEOUT(lastPercent(err) >= 40, 60000);
    QVERIFY2(lastPercent(err) < 90, "the download ran too fast to be interrupted");
    QVERIFY(restartNginx());
    QVERIFY(standin.waitForFinished(120000));
    err += standin.readAllStandardError();

    QVERIFY2(standin.exitCode() == 0, err.constData());
    QVERIFY2(!err.contains("ERROR"), err.constData());
    QVERIFY(err.contains("WARNING"));
    QCOMPARE(err.count("Saving to"), 1);
    QVERIFY(lastPercent(err) > 95);
    QVERIFY(!QFile::exists(work.filePath(fileName + ".part")));
    const QByteArray resumed = fileBytes(work.filePath(fileName));
    QVERIFY(!resumed.isEmpty());
    QVERIFY(resumed == fileBytes(straight.filePath(fileName)));
    QVERIFY(decodesCleanly(work.filePath(fileName)));
}

QTEST_GUILESS_MAIN(PortalRunTest)
#include "tst_portalrun.moc"

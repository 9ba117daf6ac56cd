// The demo portal as it runs: scripts/portal with the real nginx-rtmp and our
// HTTP server, and the rtmpdump-zvb stand-in fetching with Debian's rtmpdump.
#include "leftovers.h"
#include "portalrun.h"
#include "programrun.h"
#include "smalldisk.h"
#include "testfiles.h"

#include <QtTest>
#include <QTcpSocket>

#include <unistd.h>

namespace {

// Video 1004, long enough to be interrupted halfway.
const QString Lesson = QStringLiteral("Öljymaalauksen alkeet.flv");

quint16 portOf(const QString &url)
{
    return quint16(QUrl(url).port());
}

// The last value ffprobe prints for `entry` (format=duration, or packet=pts_time
// for the last video frame, which does not come from the metadata).
double probe(const QString &file, const QString &entry)
{
    const Finished done = runProgram("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries", entry,
                                                 "-of", "csv=p=0", file});
    bool ok = false;
    const double value = done.out.trimmed().split('\n').last().toDouble(&ok);
    return ok && done.exitCode == 0 ? value : -1;
}

bool decodesCleanly(const QString &file)
{
    const Finished done = runProgram("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-f", "null", "-"});
    return done.exitCode == 0 && done.err.trimmed().isEmpty();
}

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
    void initTestCase()
    {
        QVERIFY(m_run.isValid());
        const Finished started = portal("start");
        QVERIFY2(started.exitCode == 0, started.err.constData());
        const QList<QByteArray> addresses = portal("address").out.trimmed().split(',');
        QCOMPARE(addresses.size(), 2);
        m_portal = QString::fromLatin1(addresses.first());
        m_stream = QString::fromLatin1(addresses.last());
        QVERIFY(portOf(m_portal) > 0 && portOf(m_stream) > 0);
        QCOMPARE(portal("status").exitCode, 0);
        const Finished again = portal("start");
        QVERIFY2(again.exitCode != 0 && again.err.contains("already running"), again.err.constData());
        // What an uninterrupted download at full speed gives, for the cases that interrupt one.
        QTemporaryDir straight;
        QCOMPARE(fetch(straight.path(), "1004").exitCode, 0);
        m_whole = readFile(straight.filePath(Lesson));
        QVERIFY(!m_whole.isEmpty());
    }

    void cleanupTestCase()
    {
        QCOMPARE(portal("stop").exitCode, 0);
        QCOMPARE(portal("stop").exitCode, 0);
        QCOMPARE(portal("status").exitCode, 3);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, portOf(m_stream));
        QVERIFY(!socket.waitForConnected(2000));
        QCOMPARE(portal("address").exitCode, 3);
    }

    // Without RUN_DIR the run folder lies in TMPDIR, where every user may
    // write: only this user's own folder that no one else may write to is used,
    // and start makes a missing one private.
    void defaultRunFolder_data()
    {
        QTest::addColumn<QString>("found"); // what lies at the default folder's place
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("privateAfter");
        QTest::newRow("missing, status") << "missing" << "status" << 3 << false << false;
        QTest::newRow("missing, stop") << "missing" << "stop" << 0 << false << false;
        // Without a build to start from, start ends after making the folder.
        QTest::newRow("missing, start") << "missing" << "start" << 1 << false << true;
        QTest::newRow("private, status") << "private" << "status" << 3 << false << true;
        QTest::newRow("link to a private folder") << "link" << "status" << 1 << true << false;
        QTest::newRow("writable by others, start") << "open" << "start" << 1 << true << false;
        QTest::newRow("writable by others, stop") << "open" << "stop" << 1 << true << false;
        QTest::newRow("another user's, start") << "foreign" << "start" << 1 << true << false;
    }
    void defaultRunFolder()
    {
        QFETCH(QString, found);
        QFETCH(QString, action);
        QFETCH(bool, refused);
        QTemporaryDir tmp;
        const QString place = tmp.filePath(QStringLiteral("lumora-portal-%1").arg(::geteuid()));
        const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        if (found == "link") {
            QVERIFY(QDir().mkdir(tmp.filePath("own"), own));
            QVERIFY(QFile::link(tmp.filePath("own"), place));
        } else if (found != "missing") {
            QVERIFY(QDir().mkdir(place, own));
        }
        if (found == "open")
            QVERIFY(QFile::setPermissions(place, own | QFile::WriteGroup | QFile::WriteOther));
        if (found == "foreign" && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        if (found == "foreign")
            QVERIFY(::chown(QFile::encodeName(place).constData(), 65534, 65534) == 0);

        const Finished done = portal(action, tmp.path(), tmp.filePath("no.env"));
        QTEST(done.exitCode, "exitCode");
        QCOMPARE(done.err.contains("remove it or give RUN_DIR") && done.err.contains(QFile::encodeName(place)), refused);
        QVERIFY(!QFile::exists(place + "/nginx.conf"));
        const QFileInfo after(place);
        QTEST(after.isDir() && !after.isSymLink() && after.ownerId() == ::geteuid()
                  && !(after.permissions() & (QFile::WriteGroup | QFile::WriteOther)),
              "privateAfter");
    }

    // A pid file from before a reboot may name another program by now, even
    // one called nginx: stop leaves it running.
    void stopSparesAnotherProgram()
    {
        QProcess other;
        other.start("bash", {"-c", "exec -a nginx sleep 300"});
        QVERIFY(other.waitForStarted());
        QTemporaryDir stale;
        for (const QString name : {"nginx.pid", "portal.pid"})
            QVERIFY(writeFile(stale.filePath(name), QByteArray::number(other.processId()) + '\n'));
        QCOMPARE(portal("stop", QString(), QString(), stale.path()).exitCode, 0);
        QVERIFY(!processGone(other.processId()));
        other.kill();
        other.waitForFinished();
    }

    // wget percent-encodes what the user typed, as the downloader's search does.
    void searchThroughWget_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("hits");
        QTest::newRow("upper case Ä") << "ÄÄNI" << 1;
        QTest::newRow("blank and question mark") << "kuka tietää eniten?" << 1;
        QTest::newRow("no hits") << "jääkiekko" << 0;
    }
    void searchThroughWget()
    {
        QFETCH(QString, word);
        QFETCH(int, hits);
        const Finished done = runProgram("wget", {"--quiet", "-O", "-",
                                                  m_portal + "/haku//uusimmat/hakusana/" + word + "/media/video"});
        QCOMPARE(done.exitCode, 0);
        QCOMPARE(int(done.out.count("href=\"/video/")), 4 * hits);
    }

    // One request per connection, closed after the answer; one cut in two is
    // answered once whole, and a client that says nothing is dropped.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("pauseAt"); // where the request is cut in two writes, or 0
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("inBody");
        QTest::newRow("request split across writes")
            << QByteArray("GET /video/1002 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n") << 13
            << QByteArray("HTTP/1.1 200 OK") << QByteArray("content=\"1002.flv\"");
        QTest::newRow("search word with an encoded slash")
            << QByteArray("GET /haku//uusimmat/hakusana/AC%2FDC/media/video HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            << 0 << QByteArray("HTTP/1.1 200 OK") << QByteArray("AC/DC");
        QTest::newRow("unknown video") << QByteArray("GET /video/9999 HTTP/1.0\r\n\r\n") << 0
                                       << QByteArray("HTTP/1.1 404 Not Found") << QByteArray("<h1>");
        QTest::newRow("HEAD, no body") << QByteArray("HEAD /video/1002 HTTP/1.0\r\n\r\n") << 0
                                       << QByteArray("HTTP/1.1 200 OK") << QByteArray();
        QTest::newRow("POST") << QByteArray("POST /video/1002 HTTP/1.0\r\nContent-Length: 1\r\n\r\nx") << 0
                              << QByteArray("HTTP/1.1 405 Method Not Allowed") << QByteArray("Only GET and HEAD.");
        QTest::newRow("request past 16 KiB dropped")
            << "GET /video/" + QByteArray(20000, '1') + " HTTP/1.0\r\n\r\n" << 0 << QByteArray() << QByteArray();
        QTest::newRow("silent client dropped") << QByteArray() << 0 << QByteArray() << QByteArray();
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, pauseAt);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, inBody);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, portOf(m_portal));
        QVERIFY(socket.waitForConnected(5000));
        if (pauseAt > 0) {
            socket.write(request.left(pauseAt));
            QVERIFY(socket.waitForBytesWritten(5000));
            QVERIFY(!socket.waitForReadyRead(300));
        }
        socket.write(request.mid(pauseAt));
        // Only a silent client waits out the server's deadline.
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, request.isEmpty() ? 30000 : 5000);
        const QByteArray response = socket.readAll();
        if (statusLine.isEmpty()) {
            QVERIFY2(response.isEmpty(), response.constData());
            return;
        }
        QVERIFY2(response.startsWith(statusLine + "\r\n"), response.constData());
        const QByteArray body = response.mid(response.indexOf("\r\n\r\n") + 4);
        QVERIFY(body.contains(inBody));
        QCOMPARE(body.isEmpty(), request.startsWith("HEAD"));
        QVERIFY(!response.contains("Content-Length: 0\r\n"));
        QVERIFY(body.isEmpty() || response.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
    }

    // The stand-in saves a catalogue video under its title, or refuses what it
    // cannot fetch before it writes anything.
    void fetchesCatalogueVideo_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("fileName"); // empty where the stand-in refuses
        QTest::newRow("title with ä") << "1002" << QStringList() << "Sää ja ilmasto.flv";
        QTest::newRow("plain title") << "1006" << QStringList() << "Tietovisa.flv";
        QTest::newRow("unknown option refused") << "1002" << QStringList{"--live", "1"} << QString();
        QTest::newRow("unknown video refused") << "9999" << QStringList() << QString();
    }
    void fetchesCatalogueVideo()
    {
        QFETCH(QString, id);
        QFETCH(QStringList, extra);
        QFETCH(QString, fileName);
        QTemporaryDir work;
        const Finished done = fetch(work.path(), id, extra);
        if (fileName.isEmpty()) {
            QVERIFY(done.exitCode > 0);
            QVERIFY2(done.err.startsWith("ERROR"), done.err.constData());
            QVERIFY(QDir(work.path()).isEmpty());
            return;
        }
        QVERIFY2(done.exitCode == 0, done.err.constData());
        QVERIFY(done.err.startsWith("Saving to " + fileName.toUtf8() + '\n'));
        QCOMPARE(done.err.count("Saving to"), 1);
        QVERIFY2(!done.err.contains("ERROR") && !done.err.contains("WARNING"), done.err.constData());
        QVERIFY(done.err.contains("%)\r") && done.err.contains("Download complete"));
        QCOMPARE(lastPercent(done.err), 100.0);

        const QString saved = work.filePath(fileName);
        QVERIFY(decodesCleanly(saved));
        for (const QString entry : {"format=duration", "packet=pts_time"}) {
            const double expected = probe(runPath("videos/" + id + ".flv"), entry);
            QVERIFY(expected > 0);
            QVERIFY2(qAbs(probe(saved, entry) - expected) <= 0.2, qPrintable(entry));
        }
    }

    // The stream server goes away halfway and comes back. The resumed file must
    // be the very file an uninterrupted download gives.
    void resumesAfterStreamServerRestart()
    {
        QTemporaryDir work;
        QProcess standin;
        QByteArray err;
        connect(&standin, &QProcess::readyReadStandardError, this, [&] { err += standin.readAllStandardError(); });
        startStandin(standin, work.path(), "1004", false);
        QTRY_VERIFY_WITH_TIMEOUT(lastPercent(err) >= 40, 60000);
        QVERIFY2(lastPercent(err) < 90, "the download ran too fast to be interrupted");
        QVERIFY(stopByPidFile(runPath("nginx.pid")).isEmpty());
        QCOMPARE(runProgram("nginx", {"-p", runPath("nginx/"), "-c", runPath("nginx.conf"),
                                      "-e", runPath("nginx/logs/error.log")}).exitCode, 0);
        QVERIFY(standin.waitForFinished(120000));
        err += standin.readAllStandardError();

        QVERIFY2(standin.exitCode() == 0 && !err.contains("ERROR"), err.constData());
        QVERIFY(err.contains("WARNING"));
        QVERIFY(lastPercent(err) > 95);
        QVERIFY(!QFile::exists(work.filePath(Lesson + ".part")));
        QVERIFY(readFile(work.filePath(Lesson)) == m_whole);
    }

    // rtmpdump cannot write on a disk too small for the video: the stand-in
    // says so and exits non-zero at once, also when it resumes on the still
    // full disk, and keeps what it has. With room again it finishes the file.
    void fullDiskStopsAndResumes()
    {
        QTemporaryDir work;
        SmallDisk disk(work.path(), m_whole.size() * 2 / 3);
        if (!disk.mounted())
            QSKIP(SmallDisk::NoMount);
        QByteArray kept;
        for (int run = 0; run < 2; ++run) {
            const Finished done = fetch(work.path(), "1004");
            QVERIFY2(done.exitCode > 0 && done.err.contains("ERROR: cannot write"), done.err.constData());
            QVERIFY2(!done.err.contains("WARNING"), "a full disk is no reason to try again");
            const QByteArray partial = readFile(work.filePath(Lesson));
            QVERIFY(partial.size() > m_whole.size() / 2 && partial.size() >= kept.size() * 9 / 10);
            QVERIFY(m_whole.startsWith(partial.left(partial.size() - 16 * 1024)));
            kept = partial;
        }
        QVERIFY(disk.resize(m_whole.size() * 2));
        QCOMPARE(fetch(work.path(), "1004").exitCode, 0);
        QCOMPARE(readFile(work.filePath(Lesson)), m_whole);
        QVERIFY(!QFile::exists(work.filePath(Lesson + ".part")));
    }

private:
    // In the test's run folder, whose path holds a blank as a user's may, or
    // with a TMPDIR in the default one there.
    Finished portal(const QString &action, const QString &tmpDir = QString(), const QString &facts = QString(),
                    const QString &runDir = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BUILD_DIR", LUMORA_BUILD_DIR);
        if (!facts.isEmpty())
            env.insert("PORTAL_ENV", facts);
        QStringList arguments{LUMORA_SOURCE_DIR "/scripts/portal", action};
        if (!runDir.isEmpty())
            arguments << runDir;
        else if (tmpDir.isEmpty())
            arguments << runPath(QString());
        else
            env.insert("TMPDIR", tmpDir);
        return runProgram("bash", arguments, env);
    }

    void startStandin(QProcess &process, const QString &workDir, const QString &videoId, bool fast,
                      const QStringList &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LUMORA_STANDIN_FAST");
        if (fast)
            env.insert("LUMORA_STANDIN_FAST", "1");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workDir);
        process.start(LUMORA_STANDIN_DIR "/rtmpdump-zvb",
                      QStringList{"--rtmp", m_stream + "/LumoraServer", "--swfUrl",
                                  m_portal + "/player/Application.swf?build=1", "--timeout", "60",
                                  "--autoResume", "5", "--pageUrl", m_portal + "/video/" + videoId} + extra);
    }

    // The stand-in fetching a video at full speed, to its end.
    Finished fetch(const QString &workDir, const QString &videoId, const QStringList &extra = {})
    {
        QProcess standin;
        startStandin(standin, workDir, videoId, true, extra);
        return finishProcess(standin, 120000);
    }

    QString runPath(const QString &name) const { return m_run.filePath("run folder/" + name); }

    QTemporaryDir m_run;
    QString m_portal;
    QString m_stream;
    QByteArray m_whole; // video 1004 as an uninterrupted download gives it
};

QTEST_GUILESS_MAIN(PortalRunTest)
#include "tst_portalrun.moc"

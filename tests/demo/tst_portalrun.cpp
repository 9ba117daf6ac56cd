// The demo portal as it runs: scripts/portal with the real nginx-rtmp and our
// HTTP server, and the rtmpdump-zvb stand-in fetching with Debian's rtmpdump.
#include "leftovers.h"
#include "portalrun.h"
#include "smalldisk.h"
#include "testfiles.h"

#include <QtTest>
#include <QTcpSocket>

#include <unistd.h>

namespace {

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished finish(QProcess &process, int timeoutMs = 120000)
{
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, process.errorString().toUtf8()};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

Finished run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return finish(process);
}

quint16 portOf(const QString &url)
{
    return quint16(QUrl(url).port());
}

// The last value ffprobe prints for `entry` (format=duration, or packet=pts_time
// for the last video frame, which does not come from the metadata).
double probe(const QString &file, const QString &entry)
{
    const Finished done = run(QStringLiteral("ffprobe"),
                              {"-v", "error", "-select_streams", "v", "-show_entries", entry,
                               "-of", "csv=p=0", file});
    bool ok = false;
    const double value = done.out.trimmed().split('\n').last().toDouble(&ok);
    return ok && done.exitCode == 0 ? value : -1;
}

bool decodesCleanly(const QString &file)
{
    const Finished done = run(QStringLiteral("ffmpeg"),
                              {"-nostdin", "-v", "error", "-i", file, "-f", "null", "-"});
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
        const Finished started = portal(QStringLiteral("start"));
        QVERIFY2(started.exitCode == 0, started.err.constData());
        const Finished address = portal(QStringLiteral("address"));
        const QList<QByteArray> addresses = address.out.trimmed().split(',');
        QCOMPARE(addresses.size(), 2);
        m_portal = QString::fromLatin1(addresses.first());
        m_stream = QString::fromLatin1(addresses.last());
        QVERIFY(portOf(m_portal) > 0 && portOf(m_stream) > 0);
        QCOMPARE(portal(QStringLiteral("status")).exitCode, 0);
        const Finished again = portal(QStringLiteral("start"));
        QVERIFY2(again.exitCode != 0 && again.err.contains("already running"), again.err.constData());
    }

    void cleanupTestCase()
    {
        QCOMPARE(portal(QStringLiteral("stop")).exitCode, 0);
        QCOMPARE(portal(QStringLiteral("stop")).exitCode, 0);
        QCOMPARE(portal(QStringLiteral("status")).exitCode, 3);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, portOf(m_stream));
        QVERIFY(!socket.waitForConnected(2000));
        QCOMPARE(portal(QStringLiteral("address")).exitCode, 3);
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
        QTemporaryDir tmp;
        const QString place = tmp.filePath(QStringLiteral("lumora-portal-%1").arg(::geteuid()));
        const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        if (found == QLatin1String("link")) {
            QVERIFY(QDir().mkdir(tmp.filePath(QStringLiteral("own")), own));
            QVERIFY(QFile::link(tmp.filePath(QStringLiteral("own")), place));
        } else if (found != QLatin1String("missing")) {
            QVERIFY(QDir().mkdir(place, own));
        }
        if (found == QLatin1String("open"))
            QVERIFY(QFile::setPermissions(place, own | QFile::WriteGroup | QFile::WriteOther));
        if (found == QLatin1String("foreign")) {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QVERIFY(::chown(QFile::encodeName(place).constData(), 65534, 65534) == 0);
        }

        QFETCH(QString, action);
        const Finished done = portal(action, tmp.path(), tmp.filePath(QStringLiteral("no.env")));
        QTEST(done.exitCode, "exitCode");
        QFETCH(bool, refused);
        QCOMPARE(done.err.contains("remove it or give RUN_DIR") && done.err.contains(QFile::encodeName(place)),
                 refused);
        QVERIFY(!QFile::exists(place + QStringLiteral("/nginx.conf")));
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
        other.start(QStringLiteral("bash"), {"-c", "exec -a nginx sleep 300"});
        QVERIFY(other.waitForStarted());
        QTemporaryDir stale;
        for (const char *name : {"nginx.pid", "portal.pid"}) {
            QFile pidFile(stale.filePath(QLatin1String(name)));
            QVERIFY(pidFile.open(QIODevice::WriteOnly));
            pidFile.write(QByteArray::number(other.processId()) + '\n');
        }
        QCOMPARE(portal(QStringLiteral("stop"), QString(), QString(), stale.path()).exitCode, 0);
        QVERIFY(!processGone(other.processId()));
        other.kill();
        other.waitForFinished();
    }

    // wget percent-encodes what the user typed, as the downloader's search does.
    void searchThroughWget_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("hits");
        QTest::newRow("upper case Ä") << QStringLiteral("ÄÄNI") << 1;
        QTest::newRow("blank and question mark") << QStringLiteral("kuka tietää eniten?") << 1;
        QTest::newRow("no hits") << QStringLiteral("jääkiekko") << 0;
    }
    void searchThroughWget()
    {
        QFETCH(QString, word);
        QFETCH(int, hits);
        const Finished done = run(QStringLiteral("wget"),
                                  {"--quiet", "-O", "-",
                                   m_portal + "/haku//uusimmat/hakusana/" + word + "/media/video"});
        QCOMPARE(done.exitCode, 0);
        QCOMPARE(int(done.out.count("href=\"/video/")), 4 * hits);
    }

    void requestSplitAcrossWrites()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, portOf(m_portal));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET /video/10");
        QVERIFY(socket.waitForBytesWritten(5000));
        QVERIFY(!socket.waitForReadyRead(300));
        socket.write("02 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 10000);
        const QByteArray response = socket.readAll();
        QVERIFY2(response.startsWith("HTTP/1.1 200 OK\r\n"), response.constData());
        const QByteArray body = response.mid(response.indexOf("\r\n\r\n") + 4);
        QVERIFY(response.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
        QVERIFY(body.contains("content=\"1002.flv\""));
    }

    // One request per connection, closed after the answer.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("inBody");
        QTest::newRow("search word with an encoded slash")
            << QByteArray("GET /haku//uusimmat/hakusana/AC%2FDC/media/video HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            << QByteArray("HTTP/1.1 200 OK") << QByteArray("AC/DC");
        QTest::newRow("unknown video") << QByteArray("GET /video/9999 HTTP/1.0\r\n\r\n")
                                       << QByteArray("HTTP/1.1 404 Not Found") << QByteArray("<h1>");
        QTest::newRow("HEAD, no body") << QByteArray("HEAD /video/1002 HTTP/1.0\r\n\r\n")
                                       << QByteArray("HTTP/1.1 200 OK") << QByteArray();
        QTest::newRow("POST") << QByteArray("POST /video/1002 HTTP/1.0\r\nContent-Length: 1\r\n\r\nx")
                              << QByteArray("HTTP/1.1 405 Method Not Allowed") << QByteArray("Only GET and HEAD.");
        QTest::newRow("request past 16 KiB dropped")
            << "GET /video/" + QByteArray(20000, '1') + " HTTP/1.0\r\n\r\n" << QByteArray() << QByteArray();
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, inBody);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, portOf(m_portal));
        QVERIFY(socket.waitForConnected(5000));
        socket.write(request);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
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
    }

    void silentClientIsDropped()
    {
        QTcpSocket silent;
        silent.connectToHost(QHostAddress::LocalHost, portOf(m_portal));
        QVERIFY(silent.waitForConnected(5000));
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 30000);
    }

    void fetchesCatalogueVideo_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("title with ä") << QStringLiteral("1002") << QStringLiteral("Sää ja ilmasto.flv");
        QTest::newRow("plain title") << QStringLiteral("1006") << QStringLiteral("Tietovisa.flv");
    }
    void fetchesCatalogueVideo()
    {
        QFETCH(QString, id);
        QFETCH(QString, fileName);
        QTemporaryDir work;
        QProcess standin;
        startStandin(standin, work.path(), id, true);
        const Finished done = finish(standin);
        QVERIFY2(done.exitCode == 0, done.err.constData());
        QVERIFY(done.err.startsWith("Saving to " + fileName.toUtf8() + '\n'));
        QCOMPARE(done.err.count("Saving to"), 1);
        QVERIFY2(!done.err.contains("ERROR") && !done.err.contains("WARNING"), done.err.constData());
        QVERIFY(done.err.contains("%)\r") && done.err.contains("Download complete"));
        QCOMPARE(lastPercent(done.err), 100.0);

        const QString saved = work.filePath(fileName);
        QVERIFY(decodesCleanly(saved));
        for (const QString &entry : {QStringLiteral("format=duration"), QStringLiteral("packet=pts_time")}) {
            const double expected = probe(runPath("videos/" + id + ".flv"), entry);
            QVERIFY(expected > 0);
            QVERIFY2(qAbs(probe(saved, entry) - expected) <= 0.2, qPrintable(entry));
        }
    }

    void refusesBadInput_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("unknown option") << QStringLiteral("1002") << QStringList{"--live", "1"};
        QTest::newRow("unknown video") << QStringLiteral("9999") << QStringList{};
    }
    void refusesBadInput()
    {
        QFETCH(QString, id);
        QFETCH(QStringList, extra);
        QTemporaryDir work;
        QProcess standin;
        startStandin(standin, work.path(), id, true, extra);
        const Finished done = finish(standin);
        QVERIFY(done.exitCode > 0);
        QVERIFY2(done.err.startsWith("ERROR"), done.err.constData());
        QVERIFY(QDir(work.path()).isEmpty());
    }

    // The stream server goes away halfway and comes back. The resumed file must
    // be the very file an uninterrupted download gives.
    void resumesAfterStreamServerRestart()
    {
        const QString fileName = QStringLiteral("Öljymaalauksen alkeet.flv");
        const QByteArray whole = straightDownload(QStringLiteral("1004"), fileName);
        QVERIFY(!whole.isEmpty());

        QTemporaryDir work;
        QProcess standin;
        QByteArray err;
        connect(&standin, &QProcess::readyReadStandardError, this,
                [&] { err += standin.readAllStandardError(); });
        startStandin(standin, work.path(), QStringLiteral("1004"), false);
        QTRY_VERIFY_WITH_TIMEOUT(lastPercent(err) >= 40, 60000);
        QVERIFY2(lastPercent(err) < 90, "the download ran too fast to be interrupted");
        QVERIFY(restartNginx());
        QVERIFY(standin.waitForFinished(120000));
        err += standin.readAllStandardError();

        QVERIFY2(standin.exitCode() == 0 && !err.contains("ERROR"), err.constData());
        QVERIFY(err.contains("WARNING"));
        QVERIFY(lastPercent(err) > 95);
        QVERIFY(!QFile::exists(work.filePath(fileName + ".part")));
        const QByteArray resumed = readFile(work.filePath(fileName));
        QVERIFY(resumed == whole);
    }

    // rtmpdump cannot write on a disk too small for the video: the stand-in
    // says so and exits non-zero at once, also when it resumes on the still
    // full disk, and keeps what it has. With room again it finishes the file.
    void fullDiskStopsAndResumes()
    {
        const QString fileName = QStringLiteral("Öljymaalauksen alkeet.flv");
        const QByteArray whole = straightDownload(QStringLiteral("1004"), fileName);
        QVERIFY(!whole.isEmpty());

        QTemporaryDir work;
        SmallDisk disk(work.path(), whole.size() * 2 / 3);
        if (!disk.mounted())
            QSKIP(SmallDisk::NoMount);
        QByteArray kept;
        for (int run = 0; run < 2; ++run) {
            QProcess standin;
            startStandin(standin, work.path(), QStringLiteral("1004"), true);
            const Finished done = finish(standin);
            QVERIFY2(done.exitCode > 0 && done.err.contains("ERROR: cannot write"), done.err.constData());
            QVERIFY2(!done.err.contains("WARNING"), "a full disk is no reason to try again");
            const QByteArray partial = readFile(work.filePath(fileName));
            QVERIFY(partial.size() > whole.size() / 2 && partial.size() >= kept.size() * 9 / 10);
            QVERIFY(whole.startsWith(partial.left(partial.size() - 16 * 1024)));
            kept = partial;
        }
        QVERIFY(disk.resize(whole.size() * 2));
        QProcess standin;
        startStandin(standin, work.path(), QStringLiteral("1004"), true);
        QCOMPARE(finish(standin).exitCode, 0);
        QCOMPARE(readFile(work.filePath(fileName)), whole);
        QVERIFY(!QFile::exists(work.filePath(fileName + ".part")));
    }

private:
    // In the test's run folder, whose path holds a blank as a user's may, or
    // with a TMPDIR in the default one there.
    Finished portal(const QString &action, const QString &tmpDir = QString(), const QString &facts = QString(),
                    const QString &runDir = QString())
    {
        QProcess script;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BUILD_DIR"), QStringLiteral(LUMORA_BUILD_DIR));
        if (!facts.isEmpty())
            env.insert(QStringLiteral("PORTAL_ENV"), facts);
        QStringList arguments{QStringLiteral(LUMORA_SOURCE_DIR "/scripts/portal"), action};
        if (!runDir.isEmpty())
            arguments << runDir;
        else if (tmpDir.isEmpty())
            arguments << runPath(QString());
        else
            env.insert(QStringLiteral("TMPDIR"), tmpDir);
        script.setProcessEnvironment(env);
        script.start(QStringLiteral("bash"), arguments);
        return finish(script, 180000);
    }

    void startStandin(QProcess &process, const QString &workDir, const QString &videoId,
                      bool fast, const QStringList &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LUMORA_STANDIN_FAST"));
        if (fast)
            env.insert(QStringLiteral("LUMORA_STANDIN_FAST"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workDir);
        process.start(QStringLiteral(LUMORA_STANDIN_DIR "/rtmpdump-zvb"),
                      QStringList{"--rtmp", m_stream + "/LumoraServer",
                                  "--swfUrl", m_portal + "/player/Application.swf?build=1",
                                  "--timeout", "60", "--autoResume", "5",
                                  "--pageUrl", m_portal + "/video/" + videoId}
                          + extra);
    }

    // The file an uninterrupted download at full speed gives; empty when it fails.
    QByteArray straightDownload(const QString &videoId, const QString &fileName)
    {
        QTemporaryDir straight;
        QProcess reference;
        startStandin(reference, straight.path(), videoId, true);
        return finish(reference).exitCode == 0 ? readFile(straight.filePath(fileName)) : QByteArray();
    }

    bool restartNginx()
    {
        if (!stopByPidFile(runPath("nginx.pid")).isEmpty())
            return false;
        return run(QStringLiteral("nginx"),
                   {"-p", runPath("nginx/"), "-c", runPath("nginx.conf"),
                    "-e", runPath("nginx/logs/error.log")}).exitCode == 0;
    }

    QString runPath(const QString &name) const { return m_run.filePath("run folder/" + name); }

    QTemporaryDir m_run;
    QString m_portal;
    QString m_stream;
};

QTEST_GUILESS_MAIN(PortalRunTest)
#include "tst_portalrun.moc"

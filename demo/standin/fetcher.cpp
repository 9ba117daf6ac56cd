#include "fetcher.h"

#include "flvtags.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace standin {

namespace {

// rtmpdump's exit code for a download that stopped before its end.
constexpr int incompleteExit = 2;

} // namespace

Fetcher::Fetcher(Options options, QString stream, QString fileName, bool realtime)
    : m_options(std::move(options)), m_stream(std::move(stream)),
      m_fileName(std::move(fileName)), m_partName(m_fileName + QStringLiteral(".part")),
      m_realtime(realtime)
{
}

int Fetcher::run()
{
    // A partial file of this name is what an earlier run left: go on from it.
    bool resumedBefore = QFileInfo(m_fileName).size() > 0;
    Attempt attempt;
    if (resumedBefore) {
        bool fatal = false;
        attempt = fetchContinuation(&fatal);
        if (fatal)
            return 1;
    } else {
        attempt = fetchFromStart();
    }
    for (int resumesLeft = m_options.autoResume; attempt.exitCode != 0; --resumesLeft) {
        const bool interrupted = !m_relay.writeFailed()
            && (attempt.exitCode == incompleteExit || (resumedBefore && !attempt.crashed));
        if (!interrupted || resumesLeft <= 0) {
            emitText(m_relay.finishAttempt(false));
            return fail(m_relay.writeFailed()
                            ? QStringLiteral("cannot write the video file, the disk may be full")
                            : QStringLiteral("Download of %1 failed").arg(m_stream),
                        attempt.exitCode);
        }
        emitText(m_relay.finishAttempt(true));
        // Give a restarting server a moment, longer on each try.
        QThread::sleep(static_cast<unsigned long>(1 + m_options.autoResume - resumesLeft));
        bool fatal = false;
        attempt = fetchContinuation(&fatal);
        if (fatal)
            return 1;
        resumedBefore = true;
    }
    emitText(m_relay.finishAttempt(false));
    QFile::remove(m_partName);
    return 0;
}

QStringList Fetcher::baseArguments() const
{
    QStringList arguments{QStringLiteral("--rtmp"), m_options.rtmp,
                          QStringLiteral("--playpath"), m_stream,
                          QStringLiteral("--timeout"), QString::number(m_options.timeoutSeconds)};
    if (!m_options.swfUrl.isEmpty())
        arguments << QStringLiteral("--swfUrl") << m_options.swfUrl;
    arguments << QStringLiteral("--pageUrl") << m_options.pageUrl;
    // Asking for a short buffer without the pause trick makes nginx-rtmp send at
    // the video's own pace, so a progress bar visibly moves.
    if (m_realtime)
        arguments << QStringLiteral("--realtime") << QStringLiteral("--buffer")
                  << QStringLiteral("2000");
    return arguments;
}

Fetcher::Attempt Fetcher::fetchFromStart()
{
    return runRtmpdump(baseArguments() << QStringLiteral("--flv") << m_fileName);
}

Fetcher::Attempt Fetcher::fetchContinuation(bool *fatal)
{
    ResumePoint point;
    {
        QFile kept(m_fileName);
        if (kept.open(QIODevice::ReadOnly))
            point = findResumePoint(kept);
    }
    if (!point.valid)
        return fetchFromStart(); // the file holds no media worth keeping
    if (!QFile::resize(m_fileName, point.cut)) {
        *fatal = true;
        fail(QStringLiteral("cannot shorten %1 to resume it").arg(m_fileName), 1);
        return {};
    }
    QFile::remove(m_partName);
    const double startSeconds = point.startMs() / 1000.0;
    m_relay.continueFrom(point.cut, startSeconds);
    const Attempt attempt = runRtmpdump(baseArguments()
                                        << QStringLiteral("--start")
                                        << QString::number(startSeconds, 'f', 3)
                                        << QStringLiteral("--flv") << m_partName);
    if (const QString problem = spliceContinuation(point); !problem.isEmpty()) {
        *fatal = true;
        fail(problem, 1);
    }
    return attempt;
}

// The file holds the kept bytes only; the continuation is appended tag by tag,
// so a failed write never costs what was kept, nor the whole tags added before it.
QString Fetcher::spliceContinuation(const ResumePoint &point)
{
    QFile continuation(m_partName);
    QFile file(m_fileName);
    if (!continuation.open(QIODevice::ReadOnly))
        return {}; // nothing arrived; the next try starts from the same point
    if (!file.open(QIODevice::Append | QIODevice::Unbuffered))
        return QStringLiteral("cannot write the video file: %1").arg(file.errorString());
    qint64 appended = 0;
    const Splice splice = appendContinuation(file, point, continuation, &appended);
    const QString error = file.errorString();
    file.close();
    continuation.close();
    QFile::remove(m_partName);
    if (splice == Splice::NotContinued)
        return QStringLiteral("the server did not continue at %1 ms, cannot resume")
            .arg(point.timestamp);
    if (splice == Splice::Appended)
        return {};
    // A half-appended tag would be taken for media at the next resume.
    QFile::resize(m_fileName, point.cut + appended);
    return QStringLiteral("cannot write the video file: %1").arg(error);
}

Fetcher::Attempt Fetcher::runRtmpdump(const QStringList &arguments)
{
    QProcess rtmpdump;
    rtmpdump.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    rtmpdump.setReadChannel(QProcess::StandardError);
    // If we are killed, the download must not go on without us.
    rtmpdump.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    rtmpdump.start(QStringLiteral("rtmpdump"), arguments);
    if (!rtmpdump.waitForStarted()) {
        emitText("ERROR: cannot run rtmpdump: " + rtmpdump.errorString().toUtf8() + '\n');
        return {127, true};
    }
    while (rtmpdump.state() != QProcess::NotRunning) {
        rtmpdump.waitForReadyRead(200);
        emitText(m_relay.feed(rtmpdump.readAllStandardError()));
    }
    emitText(m_relay.feed(rtmpdump.readAllStandardError()));
    return {rtmpdump.exitCode(), rtmpdump.exitStatus() == QProcess::CrashExit};
}

void Fetcher::emitText(const QByteArray &text) const
{
    if (text.isEmpty())
        return;
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

int Fetcher::fail(const QString &message, int exitCode)
{
    emitText("ERROR: " + message.toUtf8() + '\n');
    return exitCode == 0 ? 1 : exitCode;
}

} // namespace standin

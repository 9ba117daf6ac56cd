#include "pagefetch.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

namespace standin {

namespace {

QString tooLarge(const QString &pageUrl)
{
    return QStringLiteral("the video page %1 is larger than %2 MiB")
        .arg(pageUrl)
        .arg(largestPage / (1024 * 1024));
}

// Reads wget's output until it ends, the page outgrows its bound or the
// deadline passes; returns the problem, if any.
QString readAnswer(QProcess &wget, int seconds, const QString &pageUrl, QByteArray *response)
{
    const QDeadlineTimer deadline(qint64(2) * seconds * 1000);
    while (wget.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            return QStringLiteral("the video page %1 did not arrive within %2 s")
                .arg(pageUrl)
                .arg(2 * seconds);
        wget.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
        *response += wget.readAllStandardOutput();
        if (response->size() > largestPage)
            return tooLarge(pageUrl);
    }
    *response += wget.readAllStandardOutput();
    return response->size() > largestPage ? tooLarge(pageUrl) : QString();
}

} // namespace

bool fetchVideoPage(const Options &options, QByteArray *response, QString *problem)
{
    const int seconds = qMax(1, options.timeoutSeconds);
    QProcess wget;
    wget.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    wget.start(QStringLiteral("wget"),
               {QStringLiteral("--quiet"), QStringLiteral("--tries=1"),
                QStringLiteral("--timeout=%1").arg(seconds), QStringLiteral("--save-headers"),
                QStringLiteral("-O"), QStringLiteral("-"), options.pageUrl});
    if (!wget.waitForStarted()) {
        *problem = QStringLiteral("cannot run wget: %1").arg(wget.errorString());
        return false;
    }
    *problem = readAnswer(wget, seconds, options.pageUrl, response);
    if (!problem->isEmpty()) {
        wget.kill();
        wget.waitForFinished();
        return false;
    }
    if (wget.exitStatus() != QProcess::NormalExit || wget.exitCode() != 0) {
        *problem = QStringLiteral("cannot get the video page %1 (wget exit code %2)")
                       .arg(options.pageUrl)
                       .arg(wget.exitCode());
        return false;
    }
    return true;
}

} // namespace standin

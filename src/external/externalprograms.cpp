#include "externalprograms.h"

#include <QStringBuilder>
#include <QUrl>

#include <csignal>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace external {

QString fetcherProgram()
{
    return QStringLiteral("rtmpdump-zvb");
}

QStringList fetcherArguments(const QString &pageUrl)
{
    return {QStringLiteral("--rtmp"), streamUrl() + QStringLiteral("/LumoraServer"),
            QStringLiteral("--swfUrl"), portalUrl() + QStringLiteral("/player/Application.swf?build=1"),
            QStringLiteral("--timeout"), QStringLiteral("60"),
            QStringLiteral("--autoResume"), QStringLiteral("5"),
            QStringLiteral("--pageUrl"), pageUrl};
}

QString converterProgram()
{
    return QStringLiteral("ffmpeg");
}

QStringList converterArguments(const QString &input, const QString &output)
{
    // Current ffmpeg takes the stream-copy options only as output options.
    return {QStringLiteral("-y"), QStringLiteral("-i"), input,
            QStringLiteral("-vcodec"), QStringLiteral("copy"),
            QStringLiteral("-acodec"), QStringLiteral("copy"), output};
}

QString webFetcherProgram()
{
    return QStringLiteral("wget");
}

QString searchPageAddress(const QString &searchWord)
{
    // One path segment whatever was typed: "?", "/", "%" and "#" arrive as
    // themselves. A word of only dots would be a "." or ".." segment that wget
    // resolves away, so its dots are encoded as well.
    const bool dotSegment = searchWord == u"." || searchWord == u"..";
    const QByteArray segment = QUrl::toPercentEncoding(searchWord, QByteArray(),
                                                       dotSegment ? "." : QByteArray());
    return portalUrl() + QStringLiteral("/haku//uusimmat/hakusana/") + QString::fromLatin1(segment)
           + QStringLiteral("/media/video");
}

QStringList webFetcherArguments(const QString &searchWord)
{
    return {QStringLiteral("--user-agent=Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US) "
                           "AppleWebKit/530.5 (KHTML, like Gecko) Chrome/2.0.172.39 Safari/530.5"),
            QStringLiteral("--quiet"),
            // wget's own defaults wait 15 minutes for an answer, and try 20 times.
            // Two tries of 10 s each, and the pause between them, end within
            // half a minute; a portal that answers slowly is waited for as long
            // as it keeps sending.
            QStringLiteral("--connect-timeout=10"), QStringLiteral("--read-timeout=10"),
            QStringLiteral("--tries=2"),
            QStringLiteral("-O"), QStringLiteral("-"),
            searchPageAddress(searchWord)};
}

QString videoPageAddress(QStringView videoId)
{
    return portalUrl() % u"/video/" % videoId;
}

void runAsChild(QProcess &process, int workingFolder)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, workingFolder] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // A parent that died before the call above sends no signal any more.
        if (::getppid() != parent)
            ::_exit(1);
        if (workingFolder >= 0 && ::fchdir(workingFolder) != 0)
            ::_exit(1);
    });
}

// The starting thread is suspended from the fork until the child's exec; a
// child that lowered its own priority before its exec could keep it waiting
// for a core, so the priority is lowered from here, after the exec. At
// niceness 5 the window still waited up to 40 ms for a core beside five
// conversions; at 10 a child keeps a tenth of a core against a busy program
// of the user's, far more than a stream or a copy needs.
void startChild(QProcess &process, const QString &program, const QStringList &arguments)
{
    constexpr int childNiceness = 10;
    process.start(program, arguments);
    if (const qint64 pid = process.processId(); pid > 0)
        ::setpriority(PRIO_PROCESS, id_t(pid), childNiceness);
}

QString childText(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

} // namespace external

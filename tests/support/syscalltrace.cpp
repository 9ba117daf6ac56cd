#include "syscalltrace.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "testfiles.h"

bool SyscallTrace::run(const QString &program, const QStringList &arguments, const QString &calls, int timeout)
{
    const QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("trace"));
    QProcess strace;
    strace.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The leak check stops the world through ptrace, which a traced program cannot.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    strace.setProcessEnvironment(environment);
    strace.start(QStringLiteral("strace"), QStringList{QStringLiteral("-f"), QStringLiteral("-y"), QStringLiteral("-qq"),
                                                      QStringLiteral("-o"), output, QStringLiteral("-e"),
                                                      QStringLiteral("trace=") + calls, program}
                                               + arguments);
    if (!strace.waitForFinished(timeout) || strace.exitStatus() != QProcess::NormalExit || strace.exitCode() != 0)
        return false;
    static const QRegularExpression call(QStringLiteral(R"(^(\d+) +(\w+)\((?:\d+<([^>]*)>)?)"));
    for (const QByteArray &line : readFile(output).split('\n')) {
        const QRegularExpressionMatch match = call.match(QString::fromUtf8(line));
        if (match.hasMatch())
            threads[match.captured(1)] << Call{match.captured(2), match.captured(3), line};
    }
    return true;
}

#include "programrun.h"

Finished finishProcess(QProcess &process, int timeoutMs)
{
    const bool ended = process.waitForFinished(timeoutMs);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    Finished done{-1, process.readAllStandardOutput(), process.readAllStandardError()};
    if (ended && process.exitStatus() == QProcess::NormalExit)
        done.exitCode = process.exitCode();
    else
        done.err += process.program().toUtf8() + ": " + process.errorString().toUtf8();
    return done;
}

Finished runProgram(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment, QProcess::ProcessChannelMode channels)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.setProcessChannelMode(channels);
    process.start(program, arguments);
    return finishProcess(process);
}

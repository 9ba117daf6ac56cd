#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// How a program ended and what it printed; exitCode is -1 when it crashed or
// did not end in time, and err then says why.
struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Waits for a started process to end, killing it after timeoutMs.
Finished finishProcess(QProcess &process, int timeoutMs = 300000);

// Runs a program to its end, in `environment` where one is given; with merged
// channels everything it printed is in `out`.
Finished runProgram(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment = QProcessEnvironment(),
                    QProcess::ProcessChannelMode channels = QProcess::SeparateChannels);

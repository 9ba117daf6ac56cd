#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A program run under strace, to its end, with the calls it made: for the
// order in which it writes, flushes and renames files.
class SyscallTrace
{
public:
    struct Call
    {
        QString name;    // "write", "fsync", "renameat2", ...
        QString path;    // of the call's first descriptor, if any
        QByteArray line; // as strace wrote it, with the call's other arguments
    };

    // Traces the calls named in `calls` ("openat,write,..."); false when strace
    // is missing or the program failed under it.
    bool run(const QString &program, const QStringList &arguments, const QString &calls, int timeout);

    // Each thread's calls in order, by thread id.
    QHash<QString, QList<Call>> threads;
};

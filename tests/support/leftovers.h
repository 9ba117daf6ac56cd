#pragma once

#include <QImage>
#include <QStringList>

// What a test run may leave behind, to compare before and after.

// Processes whose parent is this one, or `parent`, as "PID (NAME)", zombies
// included: a child that was never waited for counts as left behind too.
QStringList childProcesses(qint64 parent = 0);

// Gone, or a zombie that nobody has reaped yet: either way it does nothing more.
bool processGone(qint64 pid);

// Sends `signal` to the running process `pid` only: a QProcess that has
// ended says 0, and kill(0, …) would hit the whole process group, ctest too.
bool signalRunning(qint64 pid, int signal);

// The targets of this process's open file descriptors, sorted.
QStringList openDescriptors();

// Whether a grabbed picture holds a painted window rather than a blank area.
bool looksPainted(const QImage &image);

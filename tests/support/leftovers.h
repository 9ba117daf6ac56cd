#pragma once

#include <QImage>
#include <QStringList>

// What a test run may leave behind, to compare before and after.

// Processes whose parent is this one, zombies included: a child that was
// never waited for counts as left behind too.
QStringList childProcesses();

// The targets of this process's open file descriptors, sorted.
QStringList openDescriptors();

// Whether a grabbed picture holds a painted window rather than a blank area.
bool looksPainted(const QImage &image);

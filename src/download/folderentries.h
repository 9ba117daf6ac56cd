#pragma once

#include <QStringList>

// The names in the folder held open as `folderFd`, without "." and "..", read
// through a close-on-exec copy of the descriptor; empty when it cannot be read.
QStringList folderEntries(int folderFd);

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "external/portaladdresses.h"

// The only place that spells the three child programs, their fixed options and
// the addresses of the portal. Arguments are always built as lists: text that
// comes from the user or from a child stays exactly one argument.
namespace external {

QString fetcherProgram();
QStringList fetcherArguments(const QString &pageUrl);

QString converterProgram();
QStringList converterArguments(const QString &input, const QString &output);

QString webFetcherProgram();
QString searchPageAddress(const QString &searchWord);
QStringList webFetcherArguments(const QString &searchWord);

QString videoPageAddress(QStringView videoId);

// A child ends when the program ends, even when the program is killed, so
// that no orphan goes on writing a file. A working folder given as a
// descriptor is entered without its path being looked up again.
void runAsChild(QProcess &process, int workingFolder = -1);

// Starts a child that runs at a lower priority than the window, so that
// children busy on every core never stall it.
void startChild(QProcess &process, const QString &program, const QStringList &arguments);

// Child output becomes text one byte per character, up to the first NUL byte.
QString childText(const QByteArray &bytes);

} // namespace external

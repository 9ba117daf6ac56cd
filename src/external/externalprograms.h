#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The only place that spells the three child programs, their fixed options and
// the addresses of the portal. Arguments are always built as lists: text that
// comes from the user or from a child stays exactly one argument.
namespace external {

QString portalUrl();
QString streamUrl();

QString fetcherProgram();
QStringList fetcherArguments(const QString &pageUrl);

QString converterProgram();
QStringList converterArguments(const QString &input, const QString &output);

QString webFetcherProgram();
QString searchPageAddress(const QString &searchWord);
QStringList webFetcherArguments(const QString &searchWord);

QString videoPageAddress(const QString &videoId);

// Child output becomes text one byte per character, up to the first NUL byte.
QString childText(const QByteArray &bytes);

} // namespace external

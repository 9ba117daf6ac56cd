#pragma once

#include "options.h"

#include <QByteArray>
#include <QString>

namespace standin {

// The video page is no video: anything larger is not the portal's page.
constexpr qint64 largestPage = 4 * 1024 * 1024;

// Fetches the video page with wget, its response head saved before it (for
// the charset). The whole page must arrive within twice --timeout: wget's own
// timeout counts only silence, so a server sending a byte now and then would
// hold the download for ever. Returns false with a problem to report.
bool fetchVideoPage(const Options &options, QByteArray *response, QString *problem);

} // namespace standin

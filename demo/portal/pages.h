#pragma once

#include "catalogue.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace demo {

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/html; charset=ISO-8859-1";
    QByteArray body;
};

// Everything the portal answers, decided from the request line alone so that it
// can be tested without sockets.
HttpResponse routeRequest(const QByteArray &method, const QByteArray &target,
                          const QList<CatalogueEntry> &catalogue);

// The search word arrives percent-encoded UTF-8 as one path segment.
QString decodeSearchWord(const QByteArray &encoded);

// Case-insensitive substring match on title or description. A blank word lists
// everything, like browsing the newest videos.
QList<CatalogueEntry> searchCatalogue(const QList<CatalogueEntry> &catalogue, const QString &word);

// Results pages are UTF-8, as real portals send them; video pages (which the
// fetcher stand-in reads) and the rest keep ASCII with entities.
QByteArray resultsPage(const QString &word, const QList<CatalogueEntry> &hits);
QByteArray videoPage(const CatalogueEntry &entry);

} // namespace demo

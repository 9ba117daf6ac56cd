#include "pages.h"

namespace demo {

namespace {

const QByteArray searchPrefix = "/haku//uusimmat/hakusana/";
const QByteArray searchSuffix = "/media/video";
const QByteArray videoPrefix = "/video/";

const QByteArray latin1Type = "text/html; charset=ISO-8859-1";
const QByteArray utf8Type = "text/html; charset=UTF-8";

QByteArray latin1Html(const QString &text)
{
    return encodeEntities(text).toLatin1();
}

// As real portals write: letters as themselves, only markup characters escaped.
QByteArray utf8Html(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'&', QLatin1String("&amp;"))
        .replace(u'<', QLatin1String("&lt;"))
        .replace(u'>', QLatin1String("&gt;"))
        .replace(u'"', QLatin1String("&quot;"));
    return escaped.toUtf8();
}

QByteArray pageAround(const QByteArray &charset, const QByteArray &title, const QByteArray &body,
                      const QByteArray &head = {})
{
    return "<!DOCTYPE html>\n<html lang=\"fi\">\n<head>\n"
           "<meta charset=\"" + charset + "\">\n<title>"
        + title + " - Lumora</title>\n" + head + "</head>\n<body>\n"
        + "<nav><a href=\"/\">Lumora</a></nav>\n" + body + "</body>\n</html>\n";
}

// The downloader finds hits by plain text position, so the markup of one hit is
// fixed: four links to the video, the fourth holding the title, then the description.
QByteArray hitMarkup(const CatalogueEntry &entry)
{
    const QByteArray id = entry.id.toLatin1();
    const QByteArray link = "<a href=\"/video/" + id + "\">";
    return "<div class=\"hit\">" + link + "<img src=\"/thumb/" + id + ".png\"></a>" + link
        + "Katso</a>" + link + "Lis&auml;&auml;</a><h3>" + link + utf8Html(entry.title)
        + "</a></h3><p>" + utf8Html(entry.description) + "</p></div>\n";
}

HttpResponse notFound()
{
    return {404, latin1Type,
            pageAround("ISO-8859-1", "Sivua ei l&ouml;ydy", "<h1>Sivua ei l&ouml;ydy</h1>\n")};
}

const CatalogueEntry *findVideo(const QList<CatalogueEntry> &catalogue, const QByteArray &id)
{
    for (const CatalogueEntry &entry : catalogue) {
        if (entry.id.toLatin1() == id)
            return &entry;
    }
    return nullptr;
}

} // namespace

QString decodeSearchWord(const QByteArray &encoded)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

QList<CatalogueEntry> searchCatalogue(const QList<CatalogueEntry> &catalogue, const QString &word)
{
    const QString needle = word.trimmed();
    QList<CatalogueEntry> hits;
    for (const CatalogueEntry &entry : catalogue) {
        if (entry.title.contains(needle, Qt::CaseInsensitive)
            || entry.description.contains(needle, Qt::CaseInsensitive))
            hits.append(entry);
    }
    return hits;
}

QByteArray resultsPage(const QString &word, const QList<CatalogueEntry> &hits)
{
    QByteArray body = "<h1>Hakutulokset: " + utf8Html(word) + "</h1>\n";
    if (hits.isEmpty())
        body += "<div class=\"empty\">Ei hakutuloksia.</div>\n";
    for (const CatalogueEntry &entry : hits)
        body += hitMarkup(entry);
    return pageAround("UTF-8", "Haku", body);
}

QByteArray videoPage(const CatalogueEntry &entry)
{
    const QByteArray title = latin1Html(entry.title);
    const QByteArray head = "<meta name=\"stream\" content=\"" + entry.id.toLatin1() + ".flv\">\n"
        + "<meta name=\"title\" content=\"" + title + "\">\n";
    const QByteArray body = "<h1>" + title + "</h1>\n<p>"
        + latin1Html(entry.description) + "</p>\n<p>Kesto " + QByteArray::number(entry.seconds)
        + " s</p>\n";
    return pageAround("ISO-8859-1", title, body, head);
}

HttpResponse routeRequest(const QByteArray &method, const QByteArray &target,
                          const QList<CatalogueEntry> &catalogue)
{
    if (method != "GET" && method != "HEAD")
        return {405, "text/plain; charset=ISO-8859-1", "Only GET and HEAD.\n"};
    if (target.startsWith(searchPrefix) && target.endsWith(searchSuffix)
        && target.size() >= searchPrefix.size() + searchSuffix.size()) {
        const QByteArray encoded = target.mid(
            searchPrefix.size(), target.size() - searchPrefix.size() - searchSuffix.size());
        const QString word = decodeSearchWord(encoded);
        return {200, utf8Type, resultsPage(word, searchCatalogue(catalogue, word))};
    }
    if (target.startsWith(videoPrefix)) {
        if (const CatalogueEntry *entry = findVideo(catalogue, target.mid(videoPrefix.size())))
            return {200, latin1Type, videoPage(*entry)};
    }
    return notFound();
}

} // namespace demo

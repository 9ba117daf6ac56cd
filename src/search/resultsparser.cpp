#include "search/resultsparser.h"

#include "external/externalprograms.h"

namespace {

const QString videoLinkMarker = QStringLiteral("href=\"/video/");
constexpr qsizetype markerLength = 13;

// The unread rest of the page, seen as if everything before `base` had been
// removed from the front. Moving `base` instead of removing text keeps the
// scan linear; searches and cuts keep QString's rules for the rest as a whole.
class PageRest
{
public:
    explicit PageRest(const QString &page) : page(page) {}

    qsizetype find(const QString &needle, qsizetype from) const
    {
        const qsizetype found = page.indexOf(needle, base + from);
        return found < 0 ? -1 : found - base;
    }
    qsizetype find(QChar needle, qsizetype from) const
    {
        const qsizetype found = page.indexOf(needle, base + from);
        return found < 0 ? -1 : found - base;
    }
    QString cut(qsizetype from, qsizetype length) const
    {
        return page.mid(base + from, length);
    }
    void dropFront(qsizetype count)
    {
        if (count > 0)
            base = qMin(base + count, page.size());
    }

private:
    const QString &page;
    qsizetype base = 0;
};

QString replaceEntities(QString text)
{
    return text.replace(QLatin1String("&ouml;"), QStringLiteral("ö"))
        .replace(QLatin1String("&auml;"), QStringLiteral("ä"))
        .replace(QLatin1String("&Auml;"), QStringLiteral("Ä"))
        .replace(QLatin1String("&Ouml;"), QStringLiteral("Ö"));
}

// The fourth marker counted from the one just consumed; a failed search makes
// the next one start at 12, where it fails as well.
qsizetype fourthMarker(const PageRest &rest)
{
    const qsizetype second = rest.find(videoLinkMarker, 0);
    const qsizetype third = rest.find(videoLinkMarker, second + markerLength);
    return rest.find(videoLinkMarker, third + markerLength);
}

// Reads the hit whose title link starts at `link`; returns its row and where
// its description ended (-1 when no paragraph end followed).
QString readHit(const PageRest &rest, qsizetype link, qsizetype *descriptionEnd)
{
    const qsizetype tagEnd = rest.find(u'>', link);
    const qsizetype textEnd = rest.find(u'<', link);
    const QString title = rest.cut(tagEnd + 1, textEnd - tagEnd - 1);

    const qsizetype idStart = link + markerLength;
    const qsizetype idTagEnd = rest.find(u'>', idStart);
    const QString id = rest.cut(idStart, idTagEnd - link - 14);

    const qsizetype paragraph = rest.find(QStringLiteral("<p>"), idStart);
    const qsizetype paragraphEnd = rest.find(QStringLiteral("p>"), paragraph + 3);
    const QString description = rest.cut(paragraph + 3, paragraphEnd - paragraph - 5);

    *descriptionEnd = paragraphEnd;
    return u'<' + id + QStringLiteral("> ") + replaceEntities(title) + QStringLiteral(": ")
           + replaceEntities(description);
}

} // namespace

QStringList parseResultsPage(const QString &page)
{
    QStringList entries;
    PageRest rest(page);
    qsizetype marker = rest.find(videoLinkMarker, 0);
    while (marker != -1) {
        rest.dropFront(marker + markerLength);
        const qsizetype link = fourthMarker(rest);
        if (link == -1)
            break;
        qsizetype descriptionEnd = -1;
        entries.append(readHit(rest, link, &descriptionEnd));
        rest.dropFront(descriptionEnd);
        marker = rest.find(videoLinkMarker, 0);
    }
    return entries;
}

QString videoAddress(const QString &entry)
{
    const qsizetype idEnd = entry.indexOf(u'>');
    return external::videoPageAddress(entry.mid(1, idEnd - 1));
}

QString appendAddresses(const QString &field, const QStringList &addresses)
{
    if (addresses.isEmpty())
        return field;
    const bool needsSeparator = !field.isEmpty() && !field.endsWith(u';');
    return field + (needsSeparator ? QStringLiteral(";") : QString()) + addresses.join(u';');
}

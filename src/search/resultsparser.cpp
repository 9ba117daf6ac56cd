#include "search/resultsparser.h"

#include "external/externalprograms.h"
#include "search/characterreferences.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <QStringView>

namespace {

constexpr qsizetype markerLength = 13;

// Rows of a page whose hits lack their paragraph end would each hold the rest
// of the page, gigabytes on a large page; no cut runs on longer than this.
constexpr qsizetype longestCut = 1000;

enum class Mark { VideoLink, TagOpen, TagClose, Paragraph, ParagraphEnd };

// A text searched for again and again. It keeps its last answer: the first
// occurrence at or after `from` is the first one from any index up to it, and a
// search that failed fails from any later index. This keeps pages whose hits
// lack their paragraphs, where each pass searches to the end, linear as well.
class Needle
{
public:
    explicit Needle(const QString &text) : text(text) {}

    qsizetype findIn(const QString &page, qsizetype from)
    {
        const bool known = lastFrom >= 0 && from >= lastFrom && (lastFound < 0 || from <= lastFound);
        if (!known) {
            lastFrom = from;
            lastFound = page.indexOf(text, from);
        }
        return lastFound;
    }

private:
    QString text;
    qsizetype lastFrom = -1;
    qsizetype lastFound = -1;
};

// The unread rest of the page, seen as if everything before `base` had been
// removed from the front. Moving `base` instead of removing text keeps the
// scan linear; searches and cuts keep QString's rules for the rest as a whole.
class PageRest
{
public:
    explicit PageRest(const QString &page) : page(page) {}

    qsizetype find(Mark mark, qsizetype from)
    {
        const qsizetype found = needles[int(mark)].findIn(page, base + from);
        return found < 0 ? -1 : found - base;
    }
    QStringView cut(qsizetype from, qsizetype length) const
    {
        return QStringView(page).mid(base + from,
                                     length < 0 || length > longestCut ? longestCut : length);
    }
    void dropFront(qsizetype count)
    {
        if (count > 0)
            base = qMin(base + count, page.size());
    }

private:
    const QString &page;
    qsizetype base = 0;
    Needle needles[5] = {Needle(QStringLiteral("href=\"/video/")), Needle(QStringLiteral("<")),
                         Needle(QStringLiteral(">")), Needle(QStringLiteral("<p>")),
                         Needle(QStringLiteral("p>"))};
};

// The fourth marker counted from the one just consumed, or -1 when fewer
// follow: a few links to other videos after the last hit make no row.
qsizetype fourthMarker(PageRest &rest)
{
    const qsizetype second = rest.find(Mark::VideoLink, 0);
    if (second == -1)
        return -1;
    const qsizetype third = rest.find(Mark::VideoLink, second + markerLength);
    if (third == -1)
        return -1;
    return rest.find(Mark::VideoLink, third + markerLength);
}

bool isIdCharacter(char32_t code)
{
    return QChar::isLetter(code) || QChar::isMark(code) || QChar::isDigit(code) || code == u'-' || code == u'_';
}

// A video id is letters (with their combining marks, and beyond the 16-bit
// range too), digits, "-", "_", percent-escapes ("%" and two hex digits) and
// character references to such letters ("&auml;"), which a link may use for
// an id's letters; the escapes keep the address one piece, and the
// references are decoded when the address is made. The first other character
// ends the id: a link's closing quote and further attributes, and anything a
// page may put there to add a second address to the field (";", a blank, a
// line break).
QStringView videoId(QStringView cut)
{
    const auto isHex = [](QChar c) {
        const char16_t lower = c.unicode() | 0x20;
        return (c >= u'0' && c <= u'9') || (lower >= u'a' && lower <= u'f');
    };
    qsizetype end = 0;
    while (end < cut.size()) {
        const QChar c = cut[end];
        const bool pair = c.isHighSurrogate() && end + 1 < cut.size() && cut[end + 1].isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(c, cut[end + 1]) : c.unicode();
        qsizetype referenceEnd = end;
        if (isIdCharacter(code))
            end += pair ? 2 : 1;
        else if (c == u'%' && end + 2 < cut.size() && isHex(cut[end + 1]) && isHex(cut[end + 2]))
            end += 3;
        else if (const auto letter = c == u'&' ? characterReferenceAt(cut, end, &referenceEnd) : std::nullopt;
                 letter && isIdCharacter(*letter))
            end = referenceEnd;
        else
            break;
    }
    return cut.first(end);
}

// Reads the hit whose title link starts at `link`; returns its row and where
// its description ended (-1 when no paragraph end followed).
QString readHit(PageRest &rest, qsizetype link, qsizetype *descriptionEnd)
{
    const qsizetype tagEnd = rest.find(Mark::TagClose, link);
    const qsizetype textEnd = rest.find(Mark::TagOpen, link);
    const QStringView title = rest.cut(tagEnd + 1, textEnd - tagEnd - 1);

    const qsizetype idStart = link + markerLength;
    const qsizetype idTagEnd = rest.find(Mark::TagClose, idStart);
    const QStringView id = videoId(rest.cut(idStart, idTagEnd - link - 14));

    const qsizetype paragraph = rest.find(Mark::Paragraph, idStart);
    const qsizetype paragraphEnd = rest.find(Mark::ParagraphEnd, paragraph + 3);
    const QStringView description = rest.cut(paragraph + 3, paragraphEnd - paragraph - 5);

    *descriptionEnd = paragraphEnd;
    // One allocation per row: decoding never lengthens a part.
    QString row;
    row.reserve(id.size() + title.size() + description.size() + 5);
    row += u'<';
    row += id;
    row += u"> ";
    appendDecodedReferences(row, title);
    row += u": ";
    appendDecodedReferences(row, description);
    return row;
}

// A page not in UTF-8 is read as Windows-1252, as browsers read one labelled
// ISO 8859-1: its dashes, quotes and euro signs show, not control characters.
QString fromWindows1252(QByteArrayView bytes)
{
    QStringDecoder decoder("windows-1252");
    return decoder.isValid() ? QString(decoder(bytes)) : QString::fromLatin1(bytes);
}

} // namespace

QString resultsPageText(const QByteArray &output)
{
    const qsizetype nul = output.indexOf('\0');
    const QByteArrayView page = QByteArrayView(output).first(nul < 0 ? output.size() : nul);
    return page.isValidUtf8() ? QString::fromUtf8(page) : fromWindows1252(page);
}

QStringList parseResultsPage(const QString &page)
{
    // The hits of a well-formed page are cut from stretches of it that do not
    // overlap, so their rows together are hardly longer than the page. A page
    // of bare markers makes every row reach far ahead (gigabytes on a large
    // page); its rows stop once they outgrow that bound.
    const qsizetype rowBudget = 2 * page.size() + 1024 * 1024;
    qsizetype rowText = 0;
    QStringList entries;
    PageRest rest(page);
    qsizetype marker = rest.find(Mark::VideoLink, 0);
    while (marker != -1 && rowText <= rowBudget) {
        rest.dropFront(marker + markerLength);
        const qsizetype link = fourthMarker(rest);
        if (link == -1)
            break;
        qsizetype descriptionEnd = -1;
        entries.append(readHit(rest, link, &descriptionEnd));
        rowText += entries.constLast().size();
        rest.dropFront(descriptionEnd);
        marker = rest.find(Mark::VideoLink, 0);
    }
    return entries;
}

QString videoAddress(const QString &entry)
{
    const qsizetype idEnd = entry.indexOf(u'>');
    // "s&auml;&auml;" is the id "sää"; as written, its ";" would split the address in two.
    QString id;
    appendDecodedReferences(id, QStringView(entry).mid(1, idEnd - 1));
    return external::videoPageAddress(id);
}

QString appendAddresses(const QString &field, const QStringList &addresses)
{
    if (addresses.isEmpty())
        return field;
    const bool needsSeparator = !field.isEmpty() && !field.endsWith(u';');
    return field + (needsSeparator ? QStringLiteral(";") : QString()) + addresses.join(u';');
}

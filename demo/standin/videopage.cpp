#include "videopage.h"

#include "catalogue.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

namespace standin {

namespace {

QString metaContent(const QString &html, const QString &name)
{
    const QRegularExpression pattern(
        QStringLiteral("<meta\\s+name=\"%1\"\\s+content=\"([^\"]*)\"").arg(name));
    return pattern.match(html).captured(1);
}

// The charset named in `text` (a response head or a page), or nothing.
QByteArray declaredCharset(const QByteArray &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(QString::fromLatin1(text)).captured(1).toLatin1();
}

QString decoded(const QByteArray &page, const QByteArray &charset)
{
    const std::optional<QStringConverter::Encoding> encoding =
        QStringConverter::encodingForName(charset.constData());
    if (encoding) {
        QStringDecoder decoder(*encoding);
        return decoder.decode(page);
    }
    return QByteArrayView(page).isValidUtf8() ? QString::fromUtf8(page) : QString::fromLatin1(page);
}

// Cuts `name` to at most `bytes` bytes of UTF-8, on a character boundary.
void shortenToUtf8Bytes(QString *name, qsizetype bytes)
{
    qsizetype used = 0;
    for (qsizetype i = 0; i < name->size(); ++i) {
        const char32_t c = name->at(i).isHighSurrogate() && i + 1 < name->size()
            ? QChar::surrogateToUcs4(name->at(i), name->at(i + 1)) : name->at(i).unicode();
        used += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (used > bytes) {
            name->truncate(i);
            return;
        }
        if (c >= 0x10000)
            ++i;
    }
}

} // namespace

QString videoPageText(const QByteArray &response)
{
    QByteArray head;
    QByteArray page = response;
    if (response.startsWith("HTTP/")) {
        const qsizetype end = response.indexOf("\r\n\r\n");
        head = response.left(end < 0 ? response.size() : end);
        page = end < 0 ? QByteArray() : response.mid(end + 4);
    }
    QByteArray charset = declaredCharset(head);
    if (charset.isEmpty())
        charset = declaredCharset(page.left(4096));
    return decoded(page, charset);
}

bool parseVideoPage(const QByteArray &response, VideoFacts *facts)
{
    const QString text = videoPageText(response);
    facts->stream = metaContent(text, QStringLiteral("stream"));
    facts->title = demo::decodeEntities(metaContent(text, QStringLiteral("title"))).trimmed();
    return !facts->stream.isEmpty() && !facts->title.isEmpty();
}

QString fileNameForTitle(const QString &title)
{
    QString name;
    for (const QChar c : title) {
        if (c.unicode() < 0x20 || c == QChar(0x7f))
            continue;
        if (c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"'
            || c == u'<' || c == u'>' || c == u'|')
            name += u'_';
        else
            name += c;
    }
    name = name.simplified();
    while (name.startsWith(u'-') || name.startsWith(u'.') || name.startsWith(u' '))
        name.remove(0, 1);
    shortenToUtf8Bytes(&name, 200);
    if (name.isEmpty())
        name = QStringLiteral("video");
    return name + QStringLiteral(".flv");
}

} // namespace standin

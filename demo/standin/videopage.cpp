#include "videopage.h"

#include "catalogue.h"

#include <QRegularExpression>

namespace standin {

namespace {

QString metaContent(const QString &html, const QString &name)
{
    const QRegularExpression pattern(
        QStringLiteral("<meta\\s+name=\"%1\"\\s+content=\"([^\"]*)\"").arg(name));
    return pattern.match(html).captured(1);
}

} // namespace

bool parseVideoPage(const QByteArray &html, VideoFacts *facts)
{
    const QString text = QString::fromLatin1(html);
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
    while (name.toUtf8().size() > 200)
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("video");
    return name + QStringLiteral(".flv");
}

} // namespace standin

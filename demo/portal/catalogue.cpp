#include "catalogue.h"

#include <QFile>
#include <QRegularExpression>

namespace demo {

namespace {

const QRegularExpression &idPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]+$"));
    return pattern;
}

bool printable(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || !c.isPrint())
            return false;
    }
    return true;
}

// A title also reaches the fetcher stand-in through the video page, where only
// ä, ö, Ä and Ö are written as entities that it reads back. Descriptions appear
// only on the results pages, which are UTF-8.
bool onlyVideoPageLetters(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 && !QStringLiteral("äöÄÖ").contains(c))
            return false;
    }
    return printable(text);
}

QString checkEntry(const CatalogueEntry &entry)
{
    if (!idPattern().match(entry.id).hasMatch())
        return QStringLiteral("bad id '%1'").arg(entry.id);
    if (entry.title.isEmpty() || !onlyVideoPageLetters(entry.title) || !printable(entry.description))
        return QStringLiteral("title or description of '%1' has letters the portal cannot show")
            .arg(entry.id);
    if (entry.seconds < 1 || entry.seconds > 600)
        return QStringLiteral("bad length of '%1'").arg(entry.id);
    return {};
}

} // namespace

QList<CatalogueEntry> parseCatalogue(const QByteArray &tsv, QString *error)
{
    QList<CatalogueEntry> entries;
    int lineNumber = 0;
    for (const QByteArray &rawLine : tsv.split('\n')) {
        ++lineNumber;
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        bool secondsOk = false;
        bool toneOk = false;
        CatalogueEntry entry;
        if (fields.size() == 6) {
            entry = {fields[0], fields[1], fields[2], fields[3].toInt(&secondsOk),
                     fields[4], fields[5].toInt(&toneOk)};
        }
        QString problem = (secondsOk && toneOk) ? checkEntry(entry)
                                                : QStringLiteral("expected 6 tab-separated fields");
        for (const CatalogueEntry &earlier : std::as_const(entries)) {
            if (problem.isEmpty() && earlier.id == entry.id)
                problem = QStringLiteral("id '%1' appears twice").arg(entry.id);
        }
        if (!problem.isEmpty()) {
            *error = QStringLiteral("catalogue line %1: %2").arg(lineNumber).arg(problem);
            return {};
        }
        entries.append(entry);
    }
    if (entries.isEmpty())
        *error = QStringLiteral("catalogue has no videos");
    return entries;
}

QList<CatalogueEntry> loadCatalogue(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return parseCatalogue(file.readAll(), error);
}

QString encodeEntities(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&': out += QLatin1String("&amp;"); break;
        case u'<': out += QLatin1String("&lt;"); break;
        case u'>': out += QLatin1String("&gt;"); break;
        case u'"': out += QLatin1String("&quot;"); break;
        case u'ä': out += QLatin1String("&auml;"); break;
        case u'ö': out += QLatin1String("&ouml;"); break;
        case u'Ä': out += QLatin1String("&Auml;"); break;
        case u'Ö': out += QLatin1String("&Ouml;"); break;
        default:
            if (c.unicode() < 0x80)
                out += c;
            else
                out += QStringLiteral("&#%1;").arg(c.unicode());
        }
    }
    return out;
}

QString decodeEntities(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("&auml;"), QStringLiteral("ä"));
    out.replace(QLatin1String("&ouml;"), QStringLiteral("ö"));
    out.replace(QLatin1String("&Auml;"), QStringLiteral("Ä"));
    out.replace(QLatin1String("&Ouml;"), QStringLiteral("Ö"));
    out.replace(QLatin1String("&quot;"), QStringLiteral("\""));
    out.replace(QLatin1String("&lt;"), QStringLiteral("<"));
    out.replace(QLatin1String("&gt;"), QStringLiteral(">"));
    out.replace(QLatin1String("&amp;"), QStringLiteral("&"));
    return out;
}

} // namespace demo

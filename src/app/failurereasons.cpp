#include "app/failurereasons.h"

#include "download/finishing.h"

namespace {

// A message in the list is a line of a tool tip, not a second flood.
constexpr qsizetype MessageLength = 1000;

QString shortened(const QString &text, qsizetype length)
{
    return text.size() <= length ? text : text.left(length - 1) + u'…';
}

// A long message is cut before the note on the file it kept, which names that
// file whole: the fetcher's text may run to kilobytes, the note comes last.
QString listed(const QString &message)
{
    const qsizetype kept = message.lastIndexOf(finishing::keptFile(QString()));
    if (kept < 0)
        return shortened(message, MessageLength);
    return shortened(message.left(kept), MessageLength) + message.mid(kept);
}

} // namespace

QString FailureReasons::reasonOf(const QString &message, const QString &address)
{
    QString reason = message.section(u'\n', 0, 0).section(u'\r', 0, 0);
    if (reason.startsWith(QLatin1String("ERROR:")))
        reason = reason.mid(6);
    const qsizetype kept = reason.indexOf(finishing::keptFile(QString()));
    if (kept >= 0)
        reason.truncate(kept);
    if (!address.isEmpty())
        reason.replace(address, QStringLiteral("…"));
    return shortened(reason.trimmed(), ReasonLength);
}

void FailureReasons::add(const QString &message, const QString &address)
{
    ++total;
    messages.push_back(listed(message));
    if (messages.size() > KeptMessages)
        messages.pop_front();
    const QString reason = reasonOf(message, address);
    const int sharing = ++shared[reason];
    if (sharing > commonestCount) {
        commonest = reason;
        commonestCount = sharing;
    }
}

QString FailureReasons::summary() const
{
    if (total == 0)
        return QString();
    if (total == 1)
        return QStringLiteral("Syy: ") + commonest;
    return QStringLiteral("Yleisin syy (%1/%2): %3").arg(commonestCount).arg(total).arg(commonest);
}

QString FailureReasons::list() const
{
    QStringList lines;
    if (total > int(messages.size()))
        lines << QStringLiteral("(%1 epäonnistunutta, uusimmat %2:)").arg(total).arg(messages.size());
    lines.append(QStringList(messages.begin(), messages.end()));
    return lines.join(u'\n');
}

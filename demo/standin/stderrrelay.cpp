#include "stderrrelay.h"

#include <QRegularExpression>

namespace standin {

namespace {

const QRegularExpression &progressPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+\\.\\d+) kB / (\\d+\\.\\d+) sec( \\((\\d+\\.\\d+)%\\))?$"));
    return pattern;
}

} // namespace

QByteArray StderrRelay::feed(const QByteArray &chunk)
{
    QByteArray out;
    for (const char c : chunk) {
        if (c == '\r' || c == '\n') {
            out += piece(m_partial, c);
            m_partial.clear();
        } else {
            m_partial += c;
        }
    }
    return out;
}

QByteArray StderrRelay::finishAttempt(bool resuming)
{
    QByteArray out;
    if (!m_partial.isEmpty())
        out += piece(m_partial, '\n');
    m_partial.clear();
    for (QByteArray line : std::as_const(m_heldErrors)) {
        if (resuming)
            line.replace("ERROR", "WARNING");
        out += line;
    }
    m_heldErrors.clear();
    return out;
}

void StderrRelay::continueFrom(qint64 keptBytes, double startSeconds)
{
    m_continuation = true;
    m_keptBytes = keptBytes;
    m_startSeconds = startSeconds;
}

QByteArray StderrRelay::piece(const QByteArray &text, char ending)
{
    noteDuration(text);
    m_writeFailed |= text.contains("Failed writing");
    if (text.contains("ERROR")) {
        m_heldErrors.append(text + ending);
        return {};
    }
    return (m_continuation ? rewriteProgress(text) : text) + ending;
}

QByteArray StderrRelay::rewriteProgress(const QByteArray &text) const
{
    const auto match = progressPattern().match(QString::fromLatin1(text));
    if (!match.hasMatch())
        return text;
    const double kiloBytes = match.captured(1).toDouble() + m_keptBytes / 1024.0;
    const double seconds = qMax(0.0, match.captured(2).toDouble() - m_startSeconds);
    QByteArray out = QByteArray::number(kiloBytes, 'f', 3) + " kB / "
        + QByteArray::number(seconds, 'f', 2) + " sec";
    if (m_duration > 0)
        out += " (" + QByteArray::number(qMin(100.0, seconds / m_duration * 100), 'f', 1) + "%)";
    return out;
}

void StderrRelay::noteDuration(const QByteArray &text)
{
    static const QRegularExpression pattern(QStringLiteral("^INFO:\\s+duration\\s+(\\d+(\\.\\d+)?)"));
    const auto match = pattern.match(QString::fromLatin1(text));
    if (match.hasMatch() && m_duration <= 0)
        m_duration = match.captured(1).toDouble();
}

} // namespace standin

#pragma once

#include <QByteArray>
#include <QList>

namespace standin {

// Passes rtmpdump's standard error on, piece by piece. Pieces end in '\r'
// (progress) or '\n' (messages) and keep their ending, so the reader sees the
// same bytes rtmpdump wrote, with two exceptions:
//  - while a continuation is fetched, progress counts from the start of the
//    video instead of from the resume point;
//  - "ERROR" lines are held until the attempt ends, because an interrupted
//    attempt that is resumed is no failure (they are then passed on as warnings).
class StderrRelay
{
public:
    QByteArray feed(const QByteArray &chunk);
    QByteArray finishAttempt(bool resuming);

    // Progress of a continuation: `keptBytes` already in the file, and rtmpdump
    // counts seconds from `startSeconds`.
    void continueFrom(qint64 keptBytes, double startSeconds);

    // rtmpdump said it could not write the file (a full disk): trying again
    // cannot help.
    bool writeFailed() const { return m_writeFailed; }

private:
    QByteArray piece(const QByteArray &text, char ending);
    QByteArray rewriteProgress(const QByteArray &text) const;
    void noteDuration(const QByteArray &text);

    QByteArray m_partial;
    QList<QByteArray> m_heldErrors;
    double m_duration = 0;
    bool m_continuation = false;
    bool m_writeFailed = false;
    qint64 m_keptBytes = 0;
    double m_startSeconds = 0;
};

} // namespace standin

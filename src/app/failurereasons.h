#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <deque>

// Why the jobs of a batch failed, for the end of the batch: the most common
// reason in a few words, and the newest messages whole. Each failure costs
// the same however many came before it.
class FailureReasons
{
public:
    // How many messages the full list keeps, the newest; how long a reason
    // in the end text may grow.
    static constexpr int KeptMessages = 300;
    static constexpr qsizetype ReasonLength = 160;

    // A job's message. The job's address and the path of the file it kept
    // make no reason of their own.
    void add(const QString &message, const QString &address);
    void clear() { *this = FailureReasons(); }

    int count() const { return total; }
    // The end text's sequel: the one reason, or the most common one and how
    // many share it. Empty without failures.
    QString summary() const;
    // The messages kept, the oldest first, a line break between two.
    QString list() const;

    // The gist of a message: its first line, without the error marker and
    // without the note on the kept file.
    static QString reasonOf(const QString &message, const QString &address);

private:
    std::deque<QString> messages;
    QHash<QString, int> shared;
    QString commonest;
    int commonestCount = 0;
    int total = 0;
};

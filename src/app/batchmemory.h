#pragma once

#include "app/batchjournal.h"
#include "app/savedvideos.h"

#include <QString>

#include <functional>
#include <memory>

// What outlives the window of a batch: the journal of its unsaved addresses
// and the record of the videos saved, with the texts the window shows of them.
class BatchMemory
{
public:
    explicit BatchMemory(BatchJournal::Source source);

    // The list the last run left unsaved; empty when nothing.
    const BatchJournal::Contents &left() const { return journal.recovered(); }
    // What the status line says at the start about it; empty when nothing.
    QString startText() const;

    // A batch begins: its list is on the disk before its first job starts.
    void begin();
    void changed() { journal.changed(); }
    void edited() { journal.changedByUser(); }
    // The batch has ended; `contents` hold the addresses it failed.
    void end(const BatchJournal::Contents &contents);
    // The window goes while the batch runs.
    void close() { journal.writeNow(); }
    // A journal write that failed; emitted on the journal's own thread.
    const JournalSignals *journalEvents() const { return journal.events(); }

    // Whether the address's video stands in the folder as it was saved; it
    // then counts as done.
    bool alreadySaved(const QString &folder, const QString &address);
    // Records the video of a job for the folder of the last alreadySaved().
    std::function<void(const QString &, const QString &)> recorder(const QString &address) const;
    // Added to the end text: how many were in the folder already.
    QString endNote() const;

private:
    BatchJournal journal;
    std::shared_ptr<SavedVideos> saved;
    int alreadyThere = 0;
};

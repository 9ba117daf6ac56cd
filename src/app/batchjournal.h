#pragma once

#include "app/journalsignals.h"
#include "app/statefolder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// Every address of the running batch that is not saved yet, kept on disk so
// that a kill, a crash or a closed window loses none of them. Each running
// copy of the program keeps a journal of its own, held by a lock; a starting
// copy takes over one whose copy is gone and gives its list back.
//
// What the user gives is written at once, other changes within WriteDelayMs:
// an address leaves the journal only after its video is recorded as saved,
// so writing that change late costs nothing.
class BatchJournal
{
public:
    struct Contents
    {
        QString folder;
        bool repair = true;
        QStringList addresses;
    };
    using Source = std::function<std::optional<Contents>()>;

    // A journal larger than this was not written by the program.
    static constexpr qint64 SizeLimit = 64 * 1024 * 1024;
    // Changes are gathered this long, so that a fast batch writes a few times a second.
    static constexpr int WriteDelayMs = 250;

    static QByteArray format(const Contents &contents);
    // Nothing for a journal that is cut, changed or not one at all.
    static std::optional<Contents> parse(QByteArrayView bytes);

    BatchJournal();
    // Waits for the last write; a journal left empty goes.
    ~BatchJournal();
    BatchJournal(const BatchJournal &) = delete;
    BatchJournal &operator=(const BatchJournal &) = delete;

    // What the copy that left this journal had not saved; empty when nothing.
    const Contents &recovered() const { return left; }
    // Why a journal was set aside or none can be kept, in Finnish; empty when all is well.
    QString problem() const { return trouble; }

    // Where changed() and writeNow() take the batch's state from; nothing
    // while no batch runs.
    void watch(Source source) { from = std::move(source); }
    // The batch changed: its state is written within WriteDelayMs.
    void changed();
    // The user changed the list: its state goes to the writer at once, so
    // that a kill a moment after a paste does not cost the pasted addresses.
    void changedByUser();
    // The state is written before this returns.
    void writeNow();
    // These contents are written soon, replacing any change not yet written.
    void write(const Contents &contents);
    // A new batch: its first failed write is said again, and that no
    // journal can be kept is said in each.
    void newBatch();
    // A failed write is told here once, and again only after one went well.
    const JournalSignals *events() const { return &told; }

    // Journal files written by this process so far, and tried in vain.
    static int writesMade();
    static int writesFailed();

private:
    struct Writer;

    void takeOver(const StateFolder &folder);
    bool adopt(const StateFolder &folder, const QString &id);
    void postCurrent();

    std::shared_ptr<StateFolder> folder;
    // Before the writer, which emits its signal until it has stopped.
    JournalSignals told;
    std::unique_ptr<Writer> writer;
    Contents left;
    QString trouble;
    Source from;
    QTimer delay;
};

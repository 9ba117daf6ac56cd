#include "app/batchjournal.h"

#include <QCryptographicHash>
#include <QList>
#include <QRandomGenerator>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr QByteArrayView Magic = "lumora-batch-journal 1";
constexpr QByteArrayView FolderKey = "folder ";
constexpr QByteArrayView RepairKey = "repair ";
constexpr QByteArrayView EndKey = "end ";
const QString JournalSuffix = QStringLiteral(".journal");
const QString LockSuffix = QStringLiteral(".lock");

std::atomic<int> writeCount{0};
std::atomic<int> failCount{0};

// Every line is printable ASCII without blanks, whatever the texts hold.
QByteArray encoded(const QString &text)
{
    return QUrl::toPercentEncoding(text, "/:?=&#@!$'()*+,[]");
}

std::optional<QString> decoded(QByteArrayView line)
{
    for (const char c : line) {
        if (c <= ' ' || c > '~')
            return std::nullopt;
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(line.toByteArray()));
}

QByteArray digest(QByteArrayView body)
{
    return QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex();
}

QString newId()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16);
}

} // namespace

QByteArray BatchJournal::format(const Contents &contents)
{
    QByteArray body = Magic.toByteArray() + '\n';
    body += FolderKey.toByteArray() + encoded(contents.folder) + '\n';
    body += RepairKey.toByteArray() + (contents.repair ? '1' : '0') + '\n';
    for (const QString &address : contents.addresses)
        body += encoded(address) + '\n';
    // The count and digest last: a journal cut anywhere, or changed, shows it.
    return body + EndKey.toByteArray() + QByteArray::number(contents.addresses.size()) + ' ' + digest(body) + '\n';
}

std::optional<BatchJournal::Contents> BatchJournal::parse(QByteArrayView bytes)
{
    if (bytes.size() > SizeLimit || !bytes.endsWith('\n'))
        return std::nullopt;
    const qsizetype trailerStart = bytes.first(bytes.size() - 1).lastIndexOf('\n') + 1;
    const QByteArrayView body = bytes.first(trailerStart);
    const QList<QByteArray> trailer = bytes.sliced(trailerStart).toByteArray().trimmed().split(' ');
    if (trailerStart == 0 || trailer.size() != 3 || trailer[0] != EndKey.trimmed() || trailer[2] != digest(body))
        return std::nullopt;
    const QList<QByteArray> lines = body.first(body.size() - 1).toByteArray().split('\n');
    bool counted = false;
    if (lines.size() < 3 || lines[0] != Magic || !lines[1].startsWith(FolderKey) || !lines[2].startsWith(RepairKey)
        || trailer[1].toLongLong(&counted) != lines.size() - 3 || !counted)
        return std::nullopt;
    const QByteArrayView repair = QByteArrayView(lines[2]).sliced(RepairKey.size());
    const QByteArrayView folder = QByteArrayView(lines[1]).sliced(FolderKey.size());
    const std::optional<QString> folderText = folder.isEmpty() ? QString() : decoded(folder);
    if ((repair != "0" && repair != "1") || !folderText)
        return std::nullopt;
    Contents contents{*folderText, repair == "1", {}};
    contents.addresses.reserve(lines.size() - 3);
    for (qsizetype i = 3; i < lines.size(); ++i) {
        const std::optional<QString> address = decoded(lines[i]);
        // The batch writes no empty address.
        if (!address || address->isEmpty())
            return std::nullopt;
        contents.addresses << *address;
    }
    return contents;
}

// Writes on a thread of its own: flushing to a slow disk would stop the
// window. Only the newest state waits; older ones are never written after it.
// The window's delay keeps the writes to a few a second.
struct BatchJournal::Writer
{
    Writer(std::shared_ptr<StateFolder> folder, const QString &id, int lockFd, bool holdsAddresses,
           JournalSignals *told)
        : folder(std::move(folder))
        , name(id + JournalSuffix)
        , lockName(id + LockSuffix)
        , lockFd(lockFd)
        , empty(!holdsAddresses)
        , told(told)
    {
        thread = std::thread([this] { run(); });
    }

    ~Writer()
    {
        {
            std::lock_guard<std::mutex> guard(queueMutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
        // A journal with nothing to give back is not left behind.
        if (empty) {
            folder->remove(name);
            folder->remove(lockName);
        }
        StateFolder::unlock(lockFd);
    }

    void post(const Contents &contents)
    {
        {
            std::lock_guard<std::mutex> guard(queueMutex);
            pending = contents;
            pendingGeneration = ++generation;
        }
        wake.notify_all();
    }

    void writeNow(const Contents &contents)
    {
        quint64 mine;
        {
            std::lock_guard<std::mutex> guard(queueMutex);
            pending.reset();
            mine = ++generation;
        }
        writeOut(contents, mine);
    }

    void run()
    {
        std::unique_lock<std::mutex> queue(queueMutex);
        for (;;) {
            wake.wait(queue, [this] { return stopping || pending; });
            if (!pending)
                return;
            const Contents contents = std::move(*pending);
            const quint64 mine = pendingGeneration;
            pending.reset();
            queue.unlock();
            writeOut(contents, mine);
            queue.lock();
        }
    }

    void writeOut(const Contents &contents, quint64 mine)
    {
        std::lock_guard<std::mutex> guard(fileMutex);
        if (mine <= written)
            return;
        written = mine;
        const int error = folder->replace(name, format(contents));
        if (error == 0) {
            empty = contents.addresses.isEmpty();
            ++writeCount;
            failureTold = false;
            return;
        }
        // The batch goes on; the user learns that a kill would now lose the list.
        if (!failureTold) {
            failureTold = true;
            emit told->writeFailed(
                QStringLiteral("VAROITUS: keskeneräisen erän osoitteita ei voitu tallentaa tiedostoon %1 (%2); jos "
                               "ohjelma suljetaan tai kaatuu nyt, osoitteet ovat tallessa vain kentässä")
                    .arg(folder->filePath(name), QString::fromLocal8Bit(std::strerror(error))));
        }
        ++failCount;
    }

    void newBatch()
    {
        std::lock_guard<std::mutex> guard(fileMutex);
        failureTold = false;
    }

    std::shared_ptr<StateFolder> folder;
    const QString name;
    const QString lockName;
    const int lockFd;
    std::mutex queueMutex;
    std::condition_variable wake;
    std::optional<Contents> pending;
    quint64 pendingGeneration = 0;
    quint64 generation = 0;
    bool stopping = false;
    std::mutex fileMutex;
    quint64 written = 0;
    bool empty;
    bool failureTold = false;
    JournalSignals *const told;
    std::thread thread;
};

BatchJournal::BatchJournal()
    : folder(std::make_shared<StateFolder>())
{
    delay.setSingleShot(true);
    delay.setInterval(WriteDelayMs);
    QObject::connect(&delay, &QTimer::timeout, &delay, [this] { postCurrent(); });
    if (!folder->isOpen()) {
        trouble = folder->problem();
        return;
    }
    takeOver(*folder);
}

BatchJournal::~BatchJournal() = default;

// The first journal whose copy is gone and that holds addresses becomes this
// copy's; one that cannot be read is set aside and said once.
void BatchJournal::takeOver(const StateFolder &state)
{
    const QStringList journals = state.names(JournalSuffix);
    for (const QString &name : journals) {
        if (adopt(state, name.chopped(JournalSuffix.size())))
            return;
    }
    // Lock files of copies that were killed before they wrote anything.
    for (const QString &name : state.names(LockSuffix)) {
        if (journals.contains(name.chopped(LockSuffix.size()) + JournalSuffix))
            continue;
        if (const int lockFd = state.lock(name, false); lockFd >= 0) {
            state.remove(name);
            StateFolder::unlock(lockFd);
        }
    }
    const QString id = newId();
    const int lockFd = state.lock(id + LockSuffix, false);
    if (lockFd < 0) {
        trouble = QStringLiteral("Kansioon %1 ei voi kirjoittaa: keskeneräistä erää ei voi säilyttää")
                      .arg(state.filePath(QString()).chopped(1));
        return;
    }
    writer = std::make_unique<Writer>(folder, id, lockFd, false, &told);
}

bool BatchJournal::adopt(const StateFolder &state, const QString &id)
{
    const int lockFd = state.lock(id + LockSuffix, false);
    if (lockFd < 0)
        return false;
    const QString name = id + JournalSuffix;
    QByteArray bytes;
    const StateFolder::Read read = state.read(name, SizeLimit, &bytes);
    const std::optional<Contents> contents = read == StateFolder::Read::Ok ? parse(bytes) : std::nullopt;
    if (read != StateFolder::Read::Missing && !contents) {
        const QString aside = state.setAside(name);
        trouble = aside.isEmpty()
                      ? QStringLiteral("Edellisen erän luetteloa %1 ei voitu lukea").arg(state.filePath(name))
                      : QStringLiteral("Edellisen erän luetteloa ei voitu lukea: se on siirretty nimelle %1").arg(aside);
    }
    if (!contents || contents->addresses.isEmpty()) {
        if (contents)
            state.remove(name);
        state.remove(id + LockSuffix);
        StateFolder::unlock(lockFd);
        return false;
    }
    left = *contents;
    writer = std::make_unique<Writer>(folder, id, lockFd, true, &told);
    return true;
}

void BatchJournal::changed()
{
    if (!delay.isActive())
        delay.start();
}

void BatchJournal::changedByUser()
{
    delay.stop();
    postCurrent();
}

void BatchJournal::postCurrent()
{
    if (const std::optional<Contents> contents = from ? from() : std::nullopt; contents && writer)
        writer->post(*contents);
}

void BatchJournal::writeNow()
{
    delay.stop();
    if (const std::optional<Contents> contents = from ? from() : std::nullopt; contents && writer)
        writer->writeNow(*contents);
}

void BatchJournal::write(const Contents &contents)
{
    delay.stop();
    if (writer)
        writer->post(contents);
}

void BatchJournal::newBatch()
{
    if (writer)
        writer->newBatch();
    // Said at the start only, it would be gone with the batch's first text.
    else if (!trouble.isEmpty())
        emit told.writeFailed(QStringLiteral("VAROITUS: ") + trouble);
}

int BatchJournal::writesMade()
{
    return writeCount;
}

int BatchJournal::writesFailed()
{
    return failCount;
}

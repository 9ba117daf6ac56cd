#include "app/batchmemory.h"

#include <QStringList>

BatchMemory::BatchMemory(BatchJournal::Source source)
{
    journal.watch(std::move(source));
}

QString BatchMemory::startText() const
{
    QStringList said;
    if (!journal.problem().isEmpty())
        said << journal.problem();
    if (const qsizetype count = left().addresses.size(); count > 0)
        said << QStringLiteral("Edellinen erä jäi kesken: %1 %2 palautettu kenttään – jatka painamalla Tallenna")
                    .arg(count)
                    .arg(count == 1 ? QStringLiteral("osoite") : QStringLiteral("osoitetta"));
    return said.join(QStringLiteral(" – "));
}

void BatchMemory::begin()
{
    alreadyThere = 0;
    journal.newBatch();
    journal.writeNow();
}

void BatchMemory::end(const BatchJournal::Contents &contents)
{
    journal.write(contents);
    // A long list's record is read again by the next batch, not kept meanwhile.
    saved.reset();
}

bool BatchMemory::alreadySaved(const QString &folder, const QString &address)
{
    if (!saved || saved->folder() != folder)
        saved = std::make_shared<SavedVideos>(folder);
    if (address.isEmpty() || !saved->stillThere(address))
        return false;
    ++alreadyThere;
    journal.changed();
    return true;
}

std::function<void(const QString &, const QString &)> BatchMemory::recorder(const QString &address) const
{
    return [record = saved, address](const QString &target, const QString &file) {
        if (record)
            record->remember(address, target, file);
    };
}

QString BatchMemory::endNote() const
{
    return alreadyThere > 0 ? QStringLiteral(" (%1 oli jo kansiossa)").arg(alreadyThere) : QString();
}

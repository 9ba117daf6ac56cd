// The saved-videos record's reader on any bytes: a record anyone may have
// touched. Every entry it takes names a plain file in the folder, never a
// path out of it, with a size of at least 0, and writes back to a line that
// reads the same.
#include "app/savedvideos.h"
#include "fuzzcheck.h"

#include <QHash>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QHash<QString, SavedVideos::Entry> entries = SavedVideos::parse(fuzzInput(data, size));
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
        check(entry.key() == entry->address && entry->size >= 0);
        check(!entry->name.contains(u'/') && entry->name != QLatin1String("..") && entry->name != u'.');
        const std::optional<SavedVideos::Entry> back = SavedVideos::parseLine(SavedVideos::formatLine(*entry));
        check(back && back->address == entry->address && back->name == entry->name && back->size == entry->size
              && back->modified == entry->modified);
    }
    return 0;
}

// The batch journal's reader on any bytes: a journal anyone may have touched.
// What it accepts must hold as many addresses as the journal says, none empty,
// and write back to a journal that reads the same. Input that starts with a
// form feed is taken as a journal's contents instead, one text a line: the
// folder, then the addresses; written and read, they must come back unchanged.
#include "app/batchjournal.h"
#include "fuzzcheck.h"

#include <QString>

namespace {

bool same(const BatchJournal::Contents &a, const BatchJournal::Contents &b)
{
    return a.folder == b.folder && a.repair == b.repair && a.addresses == b.addresses;
}

void readBack(const BatchJournal::Contents &contents)
{
    const std::optional<BatchJournal::Contents> back = BatchJournal::parse(BatchJournal::format(contents));
    check(back && same(*back, contents));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input = fuzzInput(data, size);
    if (input.startsWith('\f')) {
        const QStringList lines = QString::fromUtf8(input.sliced(1)).split(u'\n');
        BatchJournal::Contents contents{lines.first(), input.size() % 2 == 0, {}};
        for (qsizetype i = 1; i < lines.size(); ++i) {
            if (!lines[i].isEmpty())
                contents.addresses << lines[i];
        }
        readBack(contents);
        return 0;
    }
    const std::optional<BatchJournal::Contents> contents = BatchJournal::parse(input);
    if (!contents)
        return 0;
    for (const QString &address : contents->addresses)
        check(!address.isEmpty());
    readBack(*contents);
    return 0;
}

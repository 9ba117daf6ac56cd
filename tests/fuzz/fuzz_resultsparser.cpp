// The results page parser on any bytes, read as the search dialog reads
// wget's output, and the address made of a row it gives.
#include "external/externalprograms.h"
#include "search/resultsparser.h"
#include "fuzzcheck.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString page = resultsPageText(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QStringList rows = parseResultsPage(page);
    for (const QString &entry : rows) {
        // "<", three parts of at most 1000 characters each, "> " and ": ".
        check(entry.startsWith(u'<') && entry.size() <= 3 * 1000 + 5);
    }
    // The address reads a row only up to the "> " after its id, which every
    // row has, so one row per input is enough; an address for each row was
    // an eighth of the run time.
    // Nor can a page add a second address to the field through an id.
    static const QString portal = external::videoPageAddress(QString());
    if (rows.isEmpty())
        return 0;
    const QString address = videoAddress(rows.constLast());
    check(address.startsWith(portal)
          && std::none_of(address.begin(), address.end(), [](QChar c) { return c == u';' || c.isSpace(); }));
    return 0;
}

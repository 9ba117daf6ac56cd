// The results page parser on any bytes, read as the search dialog reads
// wget's output, and the address made of every row it gives.
#include "external/externalprograms.h"
#include "search/resultsparser.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString page = resultsPageText(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    static const QString portal = external::videoPageAddress(QString());
    for (const QString &entry : parseResultsPage(page)) {
        // "<", three parts of at most 1000 characters each, "> " and ": ".
        if (!entry.startsWith(u'<') || entry.size() > 3 * 1000 + 5)
            std::abort();
        if (!videoAddress(entry).startsWith(portal))
            std::abort();
    }
    return 0;
}

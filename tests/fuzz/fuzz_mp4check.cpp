// The MP4 check on any bytes, read through a buffer as it reads a file: it
// must end, never read past its input, and call whole only a row of boxes
// that runs exactly to the end.
#include "download/mp4check.h"
#include "fuzzcheck.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // Unbuffered: a buffered device copies what follows into its buffer at
    // every seek, which made each input cost its length once per tag.
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    check(!mp4check::problem(file).isEmpty() || (size >= 8 && bytes.contains("moov")));
    return 0;
}

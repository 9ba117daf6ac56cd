// The stand-in's FLV tag reader on any bytes, as a kept partial file and the
// continuation a server sent: the input's first byte says where the partial
// ends. Finding the resume point and splicing must never read past either,
// and the spliced file must hold exactly the kept bytes and the whole tags
// counted as appended.
#include "flvtags.h"
#include "fuzzcheck.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1),
                                                     qsizetype(size - 1));
    // The split in 16ths of the input, so that short and long partials both come.
    const qsizetype split = input.size() * (data[0] & 0x0f) / 15;
    QByteArray partial = input.left(split);
    QByteArray continuation = input.mid(split);

    // Unbuffered: a buffered device copies what follows into its buffer at
    // every seek, which made each input cost its length once per tag.
    QBuffer kept(&partial);
    kept.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    const standin::ResumePoint point = standin::findResumePoint(kept);
    standin::metadataDuration(partial);
    if (!point.valid)
        return 0;
    check(point.cut > 0 && point.cut <= partial.size() && point.timestamp > 0);

    QByteArray spliced = partial.left(point.cut);
    QBuffer out(&spliced);
    out.open(QIODevice::Append | QIODevice::Unbuffered);
    QBuffer in(&continuation);
    in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    qint64 appended = -1;
    const standin::Splice result = standin::appendContinuation(out, point, in, &appended);
    check(result != standin::Splice::WriteFailed);
    check(appended >= 0 && spliced.size() == point.cut + appended);
    check(spliced.startsWith(partial.left(point.cut)));
    return 0;
}

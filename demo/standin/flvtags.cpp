#include "flvtags.h"

#include <QBuffer>
#include <QIODevice>
#include <QtEndian>

namespace standin {

namespace {

constexpr qint64 flvHeaderBytes = 13; // signature, flags, header size, first previous-tag-size
constexpr qint64 tagHeaderBytes = 11;
// What a splice copies at a time, whatever the size of a tag or a file.
constexpr qint64 copyChunk = 256 * 1024;

quint32 read24(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return (quint32(u[0]) << 16) | (quint32(u[1]) << 8) | quint32(u[2]);
}

// The tag's header as it is, its time replaced, then its body and trailing
// size through `buffer`.
bool copyTag(QIODevice &out, QIODevice &from, const FlvTag &tag, quint32 timestamp,
             QByteArray &buffer)
{
    if (!from.seek(tag.offset))
        return false;
    QByteArray header = from.read(tagHeaderBytes);
    if (header.size() != tagHeaderBytes)
        return false;
    header[4] = char((timestamp >> 16) & 0xff);
    header[5] = char((timestamp >> 8) & 0xff);
    header[6] = char(timestamp & 0xff);
    header[7] = char((timestamp >> 24) & 0xff);
    if (out.write(header) != header.size())
        return false;
    for (qint64 left = qint64(tag.dataSize) + 4; left > 0;) {
        const qint64 got = from.read(buffer.data(), qMin(left, qint64(buffer.size())));
        if (got <= 0 || out.write(buffer.constData(), got) != got)
            return false;
        left -= got;
    }
    return true;
}

// Whether `tag` of the continuation is the resume point's tag; *shift is then
// what the server and rtmpdump added to its time.
bool isResumeTag(FlvReader &reader, const FlvTag &tag, const ResumePoint &point, quint32 *shift)
{
    if (tag.type != point.type || tag.dataSize != quint32(point.body.size()))
        return false;
    // A kept tag of a sound-only file is no keyframe that the server seeks to:
    // it must sit exactly where the requested start puts it, as equal sound
    // frames (a steady tone) repeat.
    const bool placed = point.tagKept ? tag.timestamp == point.timestamp + point.startMs()
                                      : tag.timestamp >= point.timestamp;
    if (!placed || reader.body(tag) != point.body)
        return false;
    *shift = tag.timestamp - point.timestamp;
    return true;
}

// Where the 8-byte big-endian double of onMetaData's "duration" sits, or -1.
qint64 durationOffset(const QByteArray &file)
{
    QBuffer device;
    device.setData(file);
    device.open(QIODevice::ReadOnly);
    FlvReader reader(device);
    FlvTag first;
    if (!reader.next(&first) || first.type != 18)
        return -1;
    const QByteArray key("\x00\x08" "duration" "\x00", 11);
    const qint64 at = file.indexOf(key, first.offset + tagHeaderBytes);
    if (at < 0 || at + qint64(key.size()) + 8 > first.end() - 4)
        return -1;
    return at + key.size();
}

} // namespace

bool FlvTag::isVideoKeyframe() const
{
    if (type != 9 || dataSize < 2)
        return false;
    const bool keyframe = (lead[0] >> 4) == 1;
    const bool avc = (lead[0] & 0x0f) == 7;
    // For H.264 only coded pictures count, not the decoder configuration record.
    return keyframe && (!avc || lead[1] == 1);
}

FlvReader::FlvReader(QIODevice &device) : m_device(device), m_size(device.size())
{
    if (m_device.seek(0) && m_device.read(3) == "FLV")
        m_at = flvHeaderBytes;
}

bool FlvReader::next(FlvTag *tag)
{
    if (m_at < 0 || m_at + tagHeaderBytes > m_size || !m_device.seek(m_at))
        return false;
    char header[tagHeaderBytes + 2] = {};
    if (m_device.read(header, sizeof header) < tagHeaderBytes)
        return false;
    FlvTag read;
    read.offset = m_at;
    read.type = quint8(header[0]) & 0x1f;
    read.dataSize = read24(header + 1);
    read.timestamp = read24(header + 4) | (quint32(quint8(header[7])) << 24);
    if (read.dataSize >= 1)
        read.lead[0] = uchar(header[11]);
    if (read.dataSize >= 2)
        read.lead[1] = uchar(header[12]);
    if (read.end() > m_size)
        return false;
    *tag = read;
    m_at = read.end();
    return true;
}

QByteArray FlvReader::body(const FlvTag &tag)
{
    if (!m_device.seek(tag.offset + tagHeaderBytes))
        return {};
    return m_device.read(tag.dataSize);
}

ResumePoint findResumePoint(QIODevice &file)
{
    FlvReader reader(file);
    FlvTag tag;
    FlvTag keyframe;
    FlvTag lastMedia;
    bool hasVideo = false;
    qint64 wholeEnd = 0;
    while (reader.next(&tag)) {
        wholeEnd = tag.end();
        hasVideo |= tag.type == 9;
        if (tag.isVideoKeyframe() && tag.timestamp > 0)
            keyframe = tag;
        if (tag.isMedia() && tag.timestamp > 0)
            lastMedia = tag;
    }
    // Resuming at zero would ask the server for a negative time; a video
    // without a keyframe past it has less than a second to lose.
    const FlvTag &match = hasVideo ? keyframe : lastMedia;
    ResumePoint point;
    if (match.timestamp == 0)
        return point;
    point.valid = true;
    point.tagKept = !hasVideo;
    point.cut = point.tagKept ? wholeEnd : match.offset;
    point.timestamp = match.timestamp;
    point.type = match.type;
    point.body = reader.body(match);
    return point;
}

Splice appendContinuation(QIODevice &out, const ResumePoint &point, QIODevice &continuation,
                          qint64 *appended)
{
    *appended = 0;
    FlvReader reader(continuation);
    FlvTag tag;
    bool mediaArrived = false;
    quint32 shift = 0;
    bool found = false;
    while (!found && reader.next(&tag)) {
        mediaArrived |= tag.isMedia();
        found = isResumeTag(reader, tag, point, &shift);
    }
    if (!found) // with no media at all, the next try starts from the same point
        return mediaArrived ? Splice::NotContinued : Splice::Appended;
    QByteArray buffer(qBound<qint64>(1, continuation.size(), copyChunk), Qt::Uninitialized);
    for (bool more = !point.tagKept || reader.next(&tag); more; more = reader.next(&tag)) {
        if (!tag.isMedia() || tag.timestamp < shift)
            continue;
        if (!copyTag(out, continuation, tag, tag.timestamp - shift, buffer))
            return Splice::WriteFailed;
        *appended += tag.end() - tag.offset;
    }
    return Splice::Appended;
}

double metadataDuration(const QByteArray &file)
{
    const qint64 at = durationOffset(file);
    if (at < 0)
        return -1;
    return qFromBigEndian<double>(file.constData() + at);
}

bool setDurationToLastTag(QByteArray *file)
{
    const qint64 at = durationOffset(*file);
    if (at < 0)
        return false;
    QBuffer device;
    device.setData(*file);
    device.open(QIODevice::ReadOnly);
    FlvReader reader(device);
    quint32 last = 0;
    for (FlvTag tag; reader.next(&tag);)
        last = qMax(last, tag.timestamp);
    device.close();
    const double seconds = last / 1000.0;
    qToBigEndian(seconds, file->data() + at);
    return true;
}

} // namespace standin

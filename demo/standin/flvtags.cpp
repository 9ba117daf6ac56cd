#include "flvtags.h"

#include <QtEndian>

namespace standin {

namespace {

constexpr qint64 flvHeaderBytes = 13; // signature, flags, header size, first previous-tag-size

quint32 read24(const QByteArray &data, qint64 at)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
    return (quint32(p[0]) << 16) | (quint32(p[1]) << 8) | quint32(p[2]);
}

bool isVideoKeyframe(const QByteArray &file, const FlvTag &tag)
{
    if (tag.type != 9 || tag.dataSize < 2)
        return false;
    const auto first = uchar(file[tag.offset + 11]);
    const bool keyframe = (first >> 4) == 1;
    const bool avc = (first & 0x0f) == 7;
    // For H.264 only coded pictures count, not the decoder configuration record.
    return keyframe && (!avc || uchar(file[tag.offset + 12]) == 1);
}

QByteArray retimedTag(const QByteArray &file, const FlvTag &tag, quint32 timestamp)
{
    QByteArray out = file.mid(tag.offset, 11 + tag.dataSize + 4);
    out[4] = char((timestamp >> 16) & 0xff);
    out[5] = char((timestamp >> 8) & 0xff);
    out[6] = char(timestamp & 0xff);
    out[7] = char((timestamp >> 24) & 0xff);
    return out;
}

// Where the 8-byte big-endian double of onMetaData's "duration" sits, or -1.
qint64 durationOffset(const QByteArray &file)
{
    const QList<FlvTag> tags = scanFlvTags(file);
    if (tags.isEmpty() || tags.first().type != 18)
        return -1;
    const QByteArray key("\x00\x08" "duration" "\x00", 11);
    const qint64 at = file.indexOf(key, tags.first().offset + 11);
    if (at < 0 || at + qint64(key.size()) + 8 > tags.first().end() - 4)
        return -1;
    return at + key.size();
}

} // namespace

QList<FlvTag> scanFlvTags(const QByteArray &file)
{
    QList<FlvTag> tags;
    if (!file.startsWith("FLV"))
        return tags;
    qint64 at = flvHeaderBytes;
    while (at + 11 <= file.size()) {
        FlvTag tag;
        tag.offset = at;
        tag.type = quint8(file[at]) & 0x1f;
        tag.dataSize = read24(file, at + 1);
        tag.timestamp = read24(file, at + 4) | (quint32(quint8(file[at + 7])) << 24);
        if (tag.end() > file.size())
            break;
        tags.append(tag);
        at = tag.end();
    }
    return tags;
}

ResumePoint findResumePoint(const QByteArray &file)
{
    ResumePoint point;
    const QList<FlvTag> tags = scanFlvTags(file);
    qsizetype keyframeIndex = -1;
    for (qsizetype i = tags.size() - 1; i >= 0; --i) {
        if (isVideoKeyframe(file, tags[i]) && tags[i].timestamp > 0) {
            keyframeIndex = i;
            break;
        }
    }
    if (keyframeIndex < 0)
        return point;
    const FlvTag &keyframe = tags[keyframeIndex];
    point.valid = true;
    point.cut = keyframe.offset;
    point.timestamp = keyframe.timestamp;
    point.keyframe = keyframe.body(file);
    return point;
}

bool appendContinuation(QByteArray *kept, const ResumePoint &point, const QByteArray &continuation)
{
    const QList<FlvTag> tags = scanFlvTags(continuation);
    qsizetype start = -1;
    for (qsizetype i = 0; i < tags.size() && start < 0; ++i) {
        if (tags[i].type == 9 && tags[i].body(continuation) == point.keyframe)
            start = i;
    }
    if (start < 0 || tags[start].timestamp < point.timestamp)
        return false;
    const quint32 shift = tags[start].timestamp - point.timestamp;
    for (qsizetype i = start; i < tags.size(); ++i) {
        const FlvTag &tag = tags[i];
        if ((tag.type != 8 && tag.type != 9) || tag.timestamp < shift)
            continue;
        kept->append(retimedTag(continuation, tag, tag.timestamp - shift));
    }
    return true;
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
    const QList<FlvTag> tags = scanFlvTags(*file);
    if (at < 0)
        return false;
    quint32 last = 0;
    for (const FlvTag &tag : tags)
        last = qMax(last, tag.timestamp);
    double seconds = last / 1000.0;
    qToBigEndian(seconds, file->data() + at);
    return true;
}

} // namespace standin

#pragma once

#include <QByteArray>

class QIODevice;

namespace standin {

struct FlvTag {
    qint64 offset = 0;      // of the tag header in the file
    quint8 type = 0;        // 8 audio, 9 video, 18 script data
    quint32 dataSize = 0;
    quint32 timestamp = 0;  // milliseconds
    uchar lead[2] = {0, 0}; // the body's first two bytes (zero past a shorter body)
    qint64 end() const { return offset + 11 + dataSize + 4; }
    bool isMedia() const { return type == 8 || type == 9; }
    bool isVideoKeyframe() const;
};

// Reads the tags of an FLV file one at a time from a device that can seek:
// only a tag's header, and a body when asked for, is ever in memory, so a
// recording of any size is read in the same small room.
class FlvReader
{
public:
    explicit FlvReader(QIODevice &device);

    // The next whole tag; false at the end, at a tag cut off by an interrupted
    // download, or when the device holds no FLV.
    bool next(FlvTag *tag);
    // A tag's body; at most 16 MiB, the most a tag can hold.
    QByteArray body(const FlvTag &tag);

private:
    QIODevice &m_device;
    qint64 m_size = 0;
    qint64 m_at = -1;
};

// Where an interrupted download continues. Normally at its last whole video
// keyframe, which is cut off and fetched again. A file without one (sound
// only) is kept whole and continues after its last media tag.
struct ResumePoint {
    bool valid = false;
    qint64 cut = 0;               // bytes kept
    quint32 timestamp = 0;        // of the tag the continuation is matched on
    quint8 type = 0;              // that tag's type
    QByteArray body;              // and its body, to recognise it in the continuation
    bool tagKept = false;         // whether that tag stays in the kept bytes
    // The time to ask the server for: it starts at the first keyframe strictly
    // after the requested time, so a millisecond before ours.
    quint32 startMs() const { return timestamp - 1; }
};

// Invalid when the file holds no media past its first moment: nothing is
// worth keeping, the download starts over.
ResumePoint findResumePoint(QIODevice &file);

enum class Splice {
    Appended,     // the continuation's media follow the kept bytes (maybe none arrived)
    NotContinued, // the continuation does not go on from the resume point
    WriteFailed
};

// Appends the media of `continuation` (an FLV fetched from point.startMs() on)
// to `out`, which holds the file cut at the resume point, tag by tag through a
// fixed buffer. The streaming server and rtmpdump both shift timestamps of a
// seeked stream, so the shift is measured on the matched tag. `appended`
// counts the bytes of the whole tags written, also when a write fails.
Splice appendContinuation(QIODevice &out, const ResumePoint &point, QIODevice &continuation,
                          qint64 *appended);

// rtmpdump calls a download incomplete below 99.9 % of the metadata duration,
// measured at the last tag's start. ffmpeg writes the duration up to the end of
// the last audio frame, which short videos never reach, so the portal's videos
// carry the last tag's time as their duration. Returns false if the file has no
// duration in its metadata.
bool setDurationToLastTag(QByteArray *file);
double metadataDuration(const QByteArray &file);

} // namespace standin

#pragma once

#include <QByteArray>
#include <QList>

namespace standin {

struct FlvTag {
    qint64 offset = 0;      // of the tag header in the file
    quint8 type = 0;        // 8 audio, 9 video, 18 script data
    quint32 dataSize = 0;
    quint32 timestamp = 0;  // milliseconds
    QByteArray body(const QByteArray &file) const { return file.mid(offset + 11, dataSize); }
    qint64 end() const { return offset + 11 + dataSize + 4; }
};

// The complete tags of an FLV file; a tag cut off by an interrupted download is left out.
QList<FlvTag> scanFlvTags(const QByteArray &file);

// Where an interrupted download continues: at its last whole video keyframe.
struct ResumePoint {
    bool valid = false;
    qint64 cut = 0;               // bytes kept: everything before that keyframe
    quint32 timestamp = 0;        // of that keyframe
    QByteArray keyframe;          // its body, to recognise it in the continuation
};

ResumePoint findResumePoint(const QByteArray &file);

// Appends the media of `continuation` (an FLV fetched from the resume point on)
// to `kept` (the file cut at the resume point). The streaming server and rtmpdump
// both shift timestamps of a seeked stream, so the shift is measured on the
// keyframe itself. Returns false if the continuation does not hold that keyframe.
bool appendContinuation(QByteArray *kept, const ResumePoint &point, const QByteArray &continuation);

// rtmpdump calls a download incomplete below 99.9 % of the metadata duration,
// measured at the last tag's start. ffmpeg writes the duration up to the end of
// the last audio frame, which short videos never reach, so the portal's videos
// carry the last tag's time as their duration. Returns false if the file has no
// duration in its metadata.
bool setDurationToLastTag(QByteArray *file);
double metadataDuration(const QByteArray &file);

} // namespace standin

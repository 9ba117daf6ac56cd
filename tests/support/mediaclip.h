#pragma once

#include <QString>

// Makes a real FLV clip (H.264 video, AAC audio) with the real ffmpeg.
// Returns the clip's path, or an empty string when ffmpeg failed.
QString makeFlvClip(const QString &folder, const QString &fileName, double seconds = 3.0);

struct MediaInfo
{
    QString formatName;   // ffprobe's format_name, e.g. "flv" or "mov,mp4,m4a,3gp,3g2,mj2"
    QString videoCodec;   // e.g. "h264"
    QString audioCodec;   // e.g. "aac"
    double duration = -1; // seconds, -1 when unknown
    bool valid() const { return duration >= 0; }
};

// Reads a media file with the real ffprobe.
MediaInfo probeMedia(const QString &path);

// Whether `made` is a whole copy of `source` by length: within 0.2 s of it.
bool sameLength(const QString &made, const QString &source);

#include "mediaclip.h"

#include "programrun.h"

#include <QDir>

QString makeFlvClip(const QString &folder, const QString &fileName, double seconds)
{
    const QString path = QDir(folder).filePath(fileName);
    const QString length = QString::number(seconds);
    const Finished made = runProgram(QStringLiteral("ffmpeg"),
                                     {"-y", "-loglevel", "error",
                                      "-f", "lavfi", "-i", "testsrc2=size=160x90:rate=25:duration=" + length,
                                      "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + length,
                                      "-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p",
                                      "-c:a", "aac", "-b:a", "64k", "-shortest", "-f", "flv", path});
    return made.exitCode == 0 ? path : QString();
}

MediaInfo probeMedia(const QString &path)
{
    MediaInfo info;
    const Finished probe = runProgram(QStringLiteral("ffprobe"),
                                      {"-v", "error", "-show_entries", "format=format_name,duration:stream=codec_type,"
                                       "codec_name", "-of", "default=noprint_wrappers=1", path});
    const QByteArray output = probe.exitCode == 0 ? probe.out : QByteArray();
    QString codecName;
    for (const QString &line : QString::fromUtf8(output).split(u'\n', Qt::SkipEmptyParts)) {
        const QString key = line.section(u'=', 0, 0);
        const QString value = line.section(u'=', 1);
        if (key == QLatin1String("codec_name"))
            codecName = value;
        else if (key == QLatin1String("codec_type") && value == QLatin1String("video"))
            info.videoCodec = codecName;
        else if (key == QLatin1String("codec_type") && value == QLatin1String("audio"))
            info.audioCodec = codecName;
        else if (key == QLatin1String("format_name"))
            info.formatName = value;
        else if (key == QLatin1String("duration"))
            info.duration = value.toDouble();
    }
    return info;
}

bool sameLength(const QString &made, const QString &source)
{
    const MediaInfo copy = probeMedia(made);
    const MediaInfo original = probeMedia(source);
    return copy.valid() && original.valid() && qAbs(copy.duration - original.duration) <= 0.2;
}

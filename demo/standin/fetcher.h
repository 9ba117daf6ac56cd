#pragma once

#include "flvtags.h"
#include "options.h"
#include "stderrrelay.h"

#include <QString>
#include <QStringList>

namespace standin {

// Runs Debian's rtmpdump for one stream into one file, resuming an interrupted
// download up to Options::autoResume times. rtmpdump's own --resume expects the
// server to restart timestamps at zero after a seek, which nginx-rtmp does not,
// so a continuation is fetched from the last keyframe into a side file and
// spliced on.
class Fetcher
{
public:
    Fetcher(Options options, QString stream, QString fileName, bool realtime);
    int run();

private:
    struct Attempt {
        int exitCode = 1;
        bool crashed = false;
    };

    QStringList baseArguments() const;
    Attempt runRtmpdump(const QStringList &arguments);
    Attempt fetchFromStart();
    Attempt fetchContinuation(bool *fatal);
    QString spliceContinuation(const ResumePoint &point);
    void emitText(const QByteArray &text) const;
    int fail(const QString &message, int exitCode);

    Options m_options;
    QString m_stream;
    QString m_fileName;
    QString m_partName;
    bool m_realtime;
    StderrRelay m_relay;
};

} // namespace standin

#pragma once

#include <QByteArray>
#include <QString>

namespace standin {

struct VideoFacts {
    QString stream;
    QString title;
};

// Reads the stream name and title from a portal video page. Returns false when
// either is missing.
bool parseVideoPage(const QByteArray &html, VideoFacts *facts);

// A file name from a title: Finnish letters kept, nothing that a shell or a file
// system would trip over, always ending in ".flv".
QString fileNameForTitle(const QString &title);

} // namespace standin

#pragma once

#include <QByteArray>
#include <QString>

namespace standin {

struct VideoFacts {
    QString stream;
    QString title;
};

// A page as wget wrote it with --save-headers (a response head, an empty line,
// the page), or the page alone, as text in the character set it declares: in
// its Content-Type header, else in a meta tag. Without a declaration, or with
// one Qt cannot decode, UTF-8 when the bytes are valid UTF-8, else Latin-1.
QString videoPageText(const QByteArray &response);

// Reads the stream name and title from a portal video page (as videoPageText
// takes it). Returns false when either is missing.
bool parseVideoPage(const QByteArray &response, VideoFacts *facts);

// A file name from a title: Finnish letters kept, nothing that a shell or a file
// system would trip over, at most 200 bytes of UTF-8 before ".flv", which it
// always ends in.
QString fileNameForTitle(const QString &title);

} // namespace standin

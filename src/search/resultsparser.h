#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the web fetcher wrote, up to its first NUL byte, as text: UTF-8 when
// those bytes are valid UTF-8, else one character per byte (Windows-1252).
QString resultsPageText(const QByteArray &output);

// The results page of a search: each hit is four links to "/video/<id>", the
// fourth carrying the title, then a paragraph with the description. Each hit
// becomes one list row "<id> title: description", the id being the letters
// (combining marks included), digits, "-", "_", percent-escapes and references
// to letters that open the link's target (kept as written), with the
// character references of title and description decoded; none of the three
// parts runs on past 1000 characters, and all rows together stay within about
// twice the page's length. A hit needs all four links: fewer left after the
// last description (links to other videos) make no row.
QStringList parseResultsPage(const QString &page);

// The video page address of one list row: the id is the text between the
// row's first character and its first ">", its character references decoded.
QString videoAddress(const QString &entry);

// The address field's text with the new addresses appended, one ";" between
// every two addresses, the old text's last one included.
QString appendAddresses(const QString &field, const QStringList &addresses);

#pragma once

#include <QString>
#include <QStringList>

// The results page of a search: each hit is four links to "/video/<id>", the
// fourth carrying the title, then a paragraph with the description. Each hit
// becomes one list row "<id> title: description"; none of the three parts runs
// on past 1000 characters, and all rows together stay within about twice the
// page's length.
QStringList parseResultsPage(const QString &page);

// The video page address of one list row: the id is the text between the
// row's first character and its first ">".
QString videoAddress(const QString &entry);

// The address field's text with the new addresses appended, one ";" between
// every two addresses, the old text's last one included.
QString appendAddresses(const QString &field, const QStringList &addresses);

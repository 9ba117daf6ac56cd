#pragma once

#include <QList>
#include <QString>

namespace demo {

struct CatalogueEntry {
    QString id;
    QString title;
    QString description;
    int seconds = 0;
    QString pattern;
    int toneHz = 0;
};

// Reads the tab-separated catalogue. Lines starting with '#' and empty lines are skipped.
// On a malformed line returns an empty list and sets *error.
QList<CatalogueEntry> parseCatalogue(const QByteArray &tsv, QString *error);
QList<CatalogueEntry> loadCatalogue(const QString &path, QString *error);

// Video pages carry only ASCII plus four entities for the Finnish letters.
QString encodeEntities(const QString &text);
QString decodeEntities(const QString &text);

} // namespace demo

#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

// A whole file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The bytes as the whole file; false when they could not be written.
inline bool writeFile(const QString &path, const QByteArray &bytes = QByteArray())
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The pattern's %1 numbered `count` times, from `first` up.
inline QStringList numbered(const QString &pattern, int count, int first = 0)
{
    QStringList list;
    for (int i = first; i < first + count; ++i)
        list << pattern.arg(i);
    return list;
}

// What `filters` take anywhere below `folder`, relative to it, sorted.
inline QStringList entriesBelow(const QString &folder, QDir::Filters filters)
{
    QStringList found;
    for (QDirIterator it(folder, filters | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

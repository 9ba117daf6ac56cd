#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

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

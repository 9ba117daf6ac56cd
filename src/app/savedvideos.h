#pragma once

#include "app/statefolder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <mutex>
#include <optional>

// Which addresses the program saved into one output folder, under which file
// name, size and time, so that a list given again fetches only what is not
// there. A video counts as there only while its file stands under that name
// with that size and time: a file deleted, renamed or changed is saved again,
// and a file the program did not save is never taken for one it did.
//
// The record lives in the state folder, one per output folder, and only
// grows by whole lines; a line cut or changed is skipped, which costs at most
// a second copy of its video.
class SavedVideos
{
public:
    struct Entry
    {
        QString address;
        QString name; // the file's name in the folder
        qint64 size = -1;
        qint64 modified = 0; // seconds since the epoch
    };

    // A record larger than this is set aside: its videos may be saved again.
    static constexpr qint64 SizeLimit = 8 * 1024 * 1024;

    static QByteArray formatLine(const Entry &entry);
    static std::optional<Entry> parseLine(QByteArrayView line);
    // The newest entry of each address; lines that are not whole are skipped.
    static QHash<QString, Entry> parse(QByteArrayView bytes);

    // The output folder field's text as a whole path; empty is the working directory.
    static QString wholePath(const QString &folder);

    // `folder` as the output folder field holds it.
    explicit SavedVideos(const QString &folder);

    const QString &folder() const { return given; }
    // Whether the address's video stands in the folder as it was saved.
    bool stillThere(const QString &address) const;
    // The file `file` is about to become the address's video under `target`,
    // a path in the folder. On the disk when this returns; safe from any thread.
    void remember(const QString &address, const QString &target, const QString &file);

private:
    void compact();

    QString given;
    QString absolute;
    QString recordName;
    StateFolder state;
    mutable std::mutex entriesMutex;
    QHash<QString, Entry> entries;
    std::mutex fileMutex;
    qint64 recordSize = 0;
};

#pragma once

#include <QString>

// A folder nobody may write to, made at `path` for the object's lifetime. Root
// writes through file modes, so for root it is a read-only tmpfs, which needs
// the right to mount; `made` says whether it could be made.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;

    bool made = false;

private:
    QString path;
    bool mounted = false;
};

#pragma once

#include <QString>

// A folder on a tmpfs of a given size, to fill the disk on purpose, mounted
// as mountaccess allows. Unmounted, with all it holds, when the object goes.
class SmallDisk
{
public:
    SmallDisk(const QString &path, qint64 bytes);
    ~SmallDisk();
    Q_DISABLE_COPY(SmallDisk)

    // False where this process may not mount; tests then skip.
    bool mounted() const { return isMounted; }
    // The user freeing room: the same files on a larger disk.
    bool resize(qint64 bytes);

    static constexpr const char *NoMount =
        "cannot mount a small tmpfs: not root, and the kernel refused a user namespace";

private:
    QString path;
    bool isMounted = false;
};

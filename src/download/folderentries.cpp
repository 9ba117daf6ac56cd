#include "download/folderentries.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

QStringList folderEntries(int folderFd)
{
    QStringList names;
    // A plain dup() would clear close-on-exec, and a child started meanwhile
    // on another thread would inherit the listing.
    const int fd = folderFd < 0 ? -1 : ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    // The copy shares its offset with the folder's descriptor, which an
    // earlier listing left at the end.
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << QFile::decodeName(name);
    }
    ::closedir(dir);
    return names;
}

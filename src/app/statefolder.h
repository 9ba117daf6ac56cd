#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The program's own folder in the user's state folder ($XDG_STATE_HOME, by
// default ~/.local/state), where what must outlive the window is kept. It is
// reached through a descriptor of a folder checked to be a real one of this
// user, and its files are never reached through a link, so that nothing
// planted there is followed.
class StateFolder
{
public:
    static constexpr const char *ProgramFolder = "lumora-downloader";

    // Opens the folder, making it when it is missing.
    StateFolder();
    ~StateFolder();
    StateFolder(const StateFolder &) = delete;
    StateFolder &operator=(const StateFolder &) = delete;

    bool isOpen() const { return fd >= 0; }
    // Why the folder cannot be used, in Finnish, or an empty string.
    QString problem() const { return failure; }
    QString filePath(const QString &name) const { return path + u'/' + name; }
    int descriptor() const { return fd; }

    enum class Read { Ok, Missing, Unreadable };
    // A file of this user that is no link and holds at most `limit` bytes.
    Read read(const QString &name, qint64 limit, QByteArray *contents) const;
    // Writes a new file, flushes it, renames it over `name` and flushes the
    // folder: a power cut leaves either the old contents or the new. 0 when
    // all went well, else the error number of the step that failed.
    int replace(const QString &name, const QByteArray &contents) const;
    // Adds `line` at the end of `name` and flushes it; a line cut by a crash
    // before it is ended on its own line first.
    bool append(const QString &name, const QByteArray &line) const;
    // Renames a file that cannot be read out of the way; its new full path.
    QString setAside(const QString &name) const;
    void remove(const QString &name) const;
    // The names in the folder that end with `suffix`.
    QStringList names(const QString &suffix) const;
    // Takes an exclusive lock on the lock file `name` and holds it until
    // unlock(); without waiting, -1 when another one holds it.
    int lock(const QString &name, bool wait) const;
    static void unlock(int lockFd);

private:
    int openOwnFile(const QString &name, int flags) const;

    QString path;
    QString failure;
    int fd = -1;
};

#pragma once

#include <QByteArray>
#include <QString>

// Puts a finished file from the job's staging folder into the output folder
// under its claimed name. It never replaces a file, on any file system, and
// every write is checked and flushed, so that a full or failing disk or a
// power cut leaves the video under one of its two names, never under none.
class Placement
{
public:
    // How the file gets its new name, in the order they are tried: a rename
    // that refuses to replace, a hard link, a rename onto an empty file made
    // for it. exFAT through FUSE and CIFS shares have neither of the first two.
    enum class Method { Rename, Link, Reserve };

    // Both folders as descriptors of checked directories; further names are
    // claimed from `stem` (ends with the dot) when one is taken.
    Placement(int sourceFolder, int targetFolder, const QString &stem);

    // Skips the methods before `method`, for a test of what a file system
    // without them gets.
    void startFrom(Method method) { first = method; }

    // Puts the file `name` of the source folder under `*target`, a claimed
    // full path in the target folder. When someone outside the program took
    // that name meanwhile, the next free one is claimed into `*target`.
    // Returns why the file was not placed safely, or an empty string.
    QString place(const QString &name, QString *target);
    // Whether the file got its new name.
    bool placed() const { return done; }
    // Once placed: why the new name may not be on disk yet, or an empty string.
    QString warning() const { return flushWarning; }

private:
    int moveOnce(const QByteArray &from, const QByteArray &to) const;
    int renameOntoReservation(const QByteArray &from, const QByteArray &to) const;

    int sourceFolder;
    int targetFolder;
    QString stem;
    Method first = Method::Rename;
    bool done = false;
    QString flushWarning;
};

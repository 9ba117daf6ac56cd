#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Puts a temporary folder of scripted programs first on PATH for the lifetime
// of the object, and restores PATH afterwards. For tests that must control a
// child's output byte by byte, or make a program missing.
class FakePrograms
{
public:
    enum class Path {
        BeforeSystem, // fakes shadow the real programs, the rest of PATH still works
        Only          // only the fakes and links made with linkReal() are found
    };

    explicit FakePrograms(Path mode = Path::BeforeSystem);
    ~FakePrograms();
    FakePrograms(const FakePrograms &) = delete;
    FakePrograms &operator=(const FakePrograms &) = delete;

    // Writes an executable `name` whose body is run by /bin/bash.
    QString addScript(const QString &name, const QByteArray &bashBody);
    // Makes the real program `name` (looked up on the original PATH) visible.
    bool linkReal(const QString &name);

    QString dir() const { return folder.path(); }
    QByteArray originalPath() const { return savedPath; }

private:
    QTemporaryDir folder;
    QByteArray savedPath;
};

#include "readonlyfolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

} // namespace

ReadOnlyFolder::ReadOnlyFolder(const QString &path) : path(path)
{
    QDir().mkpath(path);
    if (::geteuid() != 0) {
        made = QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        return;
    }
    mounted = run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                           QStringLiteral("ro,size=1m"), QStringLiteral("tmpfs"), path});
    made = mounted;
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (mounted)
        run(QStringLiteral("umount"), {path});
    else
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

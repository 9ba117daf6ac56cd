#include "fakeprograms.h"

#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>

FakePrograms::FakePrograms(Path mode)
    : savedPath(qgetenv("PATH"))
{
    const QByteArray own = QFile::encodeName(folder.path());
    qputenv("PATH", mode == Path::Only ? own : own + ':' + savedPath);
}

FakePrograms::~FakePrograms()
{
    qputenv("PATH", savedPath);
}

QString FakePrograms::addScript(const QString &name, const QByteArray &bashBody)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    // The fakes still need the ordinary tools (sleep, cat) whatever PATH the test set.
    file.write("#!/bin/bash\nPATH=\"$PATH:" + savedPath + "\"\n" + bashBody + '\n');
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool FakePrograms::linkReal(const QString &name)
{
    const QStringList searchPath = QString::fromLocal8Bit(savedPath).split(u':', Qt::SkipEmptyParts);
    const QString real = QStandardPaths::findExecutable(name, searchPath);
    return !real.isEmpty() && QFile::link(real, folder.filePath(name));
}

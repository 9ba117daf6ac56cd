#include "leftovers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

#include <csignal>
#include <unistd.h>

QStringList childProcesses(qint64 parent)
{
    if (parent == 0)
        parent = ::getpid();
    QStringList children;
    QDirIterator proc(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (proc.hasNext()) {
        QFile stat(proc.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == parent)
            children << QString::fromLocal8Bit(text.left(text.lastIndexOf(')') + 1));
    }
    return children;
}

bool processGone(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype state = text.lastIndexOf(')') + 2;
    return state < 2 || text.mid(state, 1) == "Z";
}

QStringList openDescriptors()
{
    const QString folder = QStringLiteral("/proc/self/fd");
    QStringList targets;
    for (const QString &fd : QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::System))
        targets << QFile::symLinkTarget(folder + u'/' + fd);
    targets.sort();
    return targets;
}

bool looksPainted(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size() > 8;
}

bool signalRunning(qint64 pid, int signal)
{
    return pid > 0 && ::kill(pid_t(pid), signal) == 0;
}

#include "jobrun.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <ftw.h>

JobRun::JobRun()
{
    QDir(root.path()).mkdir(QStringLiteral("work"));
    QDir(root.path()).mkdir(QStringLiteral("out"));
    QDir::setCurrent(path(QStringLiteral("work")));
    qputenv("WORK", QFile::encodeName(path(QStringLiteral("work"))));
}

JobRun::~JobRun()
{
    job.reset();
    QDir::setCurrent(QDir::tempPath());
    // Some runs leave names that are not UTF-8, which Qt cannot remove: byte by byte.
    nftw(QFile::encodeName(root.path()).constData(),
         [](const char *name, const struct stat *, int, FTW *) { return std::remove(name); }, 16, FTW_DEPTH | FTW_PHYS);
}

void JobRun::start(int fixMp4, const QString &folder, const QString &pageUrl)
{
    job = std::make_unique<downloader>(0, fixMp4, pageUrl, folder);
    QObject::connect(job.get(), &downloader::valueChanged, job.get(),
                     [this](int, int percent1, int percent2, int err, const QString &msg) {
                         record(percent1, percent2, err, msg);
                     });
}

bool JobRun::wait(int timeout)
{
    return QTest::qWaitFor([this] { return ended; }, timeout);
}

void JobRun::record(int percent1, int percent2, int err, const QString &msg)
{
    const QChar kind = err ? u'E' : percent1 != 100 ? u'P' : percent2 == 0 ? u'F' : percent2 == 100 ? u'D' : u'P';
    if (!kinds.endsWith(kind))
        kinds += kind;
    ended = kind == u'E' || kind == u'D';
    errmsg = msg;
    QFile(path(QStringLiteral("work/go"))).open(QIODevice::WriteOnly);
    if (!err && percent2 > 0)
        QFile(path(QStringLiteral("work/go2"))).open(QIODevice::WriteOnly);
}

QStringList JobRun::files() const
{
    return entriesBelow(root.path(), QDir::Files | QDir::Hidden | QDir::System);
}

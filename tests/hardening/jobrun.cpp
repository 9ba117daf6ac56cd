#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QDirIterator>

JobRun::JobRun()
{
    QDir(root.path()).mkdir(QStringLiteral("work"));
    QDir::setCurrent(path(QStringLiteral("work")));
    // Fakes run in the job's staging folder; what they share with the test lies here.
    qputenv("WORK", QFile::encodeName(path(QStringLiteral("work"))));
}

JobRun::~JobRun()
{
    job.reset();
    QDir::setCurrent(QDir::tempPath());
}

void JobRun::start(int fixMp4, const QString &folder)
{
    job = std::make_unique<downloader>(0, fixMp4, QStringLiteral("http://portal/video/1"), folder);
    QObject::connect(job.get(), &downloader::valueChanged, job.get(),
                     [this](int, int percent1, int percent2, int err, const QString &msg) {
                         const QChar kind = err                 ? u'E'
                                            : percent1 != 100   ? u'P'
                                            : percent2 == 0     ? u'F'
                                            : percent2 == 100   ? u'D'
                                                                : u'P';
                         if (!kinds.endsWith(kind))
                             kinds += kind;
                         ended = kind == u'E' || kind == u'D';
                         errmsg = msg;
                     });
}

QStringList JobRun::files() const
{
    QStringList found;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root.path()).relativeFilePath(it.next());
    found.sort();
    return found;
}

#include "workingwindow.h"

#include "testfiles.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>

using namespace Qt::StringLiterals;

WorkingWindow::WorkingWindow(bool onScreen) : WindowDriver(onScreen)
{
    QDir::setCurrent(work.path());
    qputenv("WORK", QFile::encodeName(work.path()));
    QDir(work.path()).mkdir(u"out"_s);
}

WorkingWindow::~WorkingWindow()
{
    // The window goes first, while the folder it works in is still there.
    window.reset();
    QDir::setCurrent(QDir::tempPath());
}

void WorkingWindow::start(const QString &addresses, int threads)
{
    setField(addresses);
    window->findChild<QComboBox *>(u"threadcount"_s)->setCurrentIndex(threads - 1);
    button("pushButton")->click();
}

QString WorkingWindow::ended(int timeout)
{
    return waitForEnd(timeout) ? status() : u"no end: "_s + status();
}

QStringList WorkingWindow::savedFiles() const
{
    return QDir(work.filePath(u"out"_s)).entryList(QDir::Files, QDir::Name);
}

void WorkingWindow::release(const QStringList &ids) const
{
    for (const QString &id : ids)
        writeFile(work.filePath(u"release-"_s + id));
}

bool WorkingWindow::started(const QString &id) const
{
    return QFile::exists(work.filePath(u"started-"_s + id));
}

int WorkingWindow::runs(const QString &id) const
{
    return int(readFile(work.filePath(u"started-"_s + id)).count('\n'));
}

QString WorkingWindow::process(const QString &id) const
{
    return u"/proc/"_s + QString::fromLatin1(readFile(work.filePath(u"started-"_s + id)).trimmed());
}

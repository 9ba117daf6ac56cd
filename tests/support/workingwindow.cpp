#include "workingwindow.h"

#include "testfiles.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

WorkingWindow::WorkingWindow(bool onScreen) : WindowDriver(onScreen)
{
    QDir::setCurrent(work.path());
    qputenv("WORK", QFile::encodeName(work.path()));
    QDir(work.path()).mkdir(QStringLiteral("out"));
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
    window->findChild<QComboBox *>(QStringLiteral("threadcount"))->setCurrentIndex(threads - 1);
    button("pushButton")->click();
}

QString WorkingWindow::ended(int timeout)
{
    return waitForEnd(timeout) ? status() : QStringLiteral("no end: ") + status();
}

QString WorkingWindow::run(const QString &addresses, int threads)
{
    start(addresses, threads);
    return ended();
}

QString WorkingWindow::field() const
{
    return line("url")->text();
}

void WorkingWindow::setField(const QString &text) const
{
    line("url")->setText(text);
}

QString WorkingWindow::tip() const
{
    return line("statusbar")->toolTip();
}

QStringList WorkingWindow::savedFiles() const
{
    return QDir(work.filePath(QStringLiteral("out"))).entryList(QDir::Files, QDir::Name);
}

void WorkingWindow::release(const QStringList &ids) const
{
    for (const QString &id : ids)
        writeFile(work.filePath(QStringLiteral("release-") + id));
}

bool WorkingWindow::started(const QString &id) const
{
    return QFile::exists(work.filePath(QStringLiteral("started-") + id));
}

int WorkingWindow::runs(const QString &id) const
{
    return int(readFile(work.filePath(QStringLiteral("started-") + id)).count('\n'));
}

QString WorkingWindow::process(const QString &id) const
{
    const QByteArray pid = readFile(work.filePath(QStringLiteral("started-") + id)).trimmed();
    return QStringLiteral("/proc/") + QString::fromLatin1(pid);
}

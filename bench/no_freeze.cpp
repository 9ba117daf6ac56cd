// The longest stall of the window's event loop while five downloads are
// copied, not converted, from the working directory to a folder on another
// file system: the largest gap between two ticks of a 10 ms timer. Target:
// under 50 ms.
//
//   bench_no_freeze [--megabytes N]   (size of each fetched file, default 500)
//
// As root it mounts a tmpfs for the output folder; otherwise it uses /dev/shm.
// The working directory is a temporary folder on the disk.

#include "app/mainwindow.h"
#include "external/externalprograms.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Downloads = 5;
constexpr int TickMs = 10;

// Makes the file at once: sparse, with a mark at both ends so that a copy can
// be told from a file of zeros.
QByteArray fakeFetcher(int megabytes)
{
    return "id=${@: -1}; id=${id##*/}\n"
           "truncate -s " + QByteArray::number(megabytes) + "M \"$id.flv\"\n"
           "printf 'start %s' \"$id\" | dd of=\"$id.flv\" conv=notrunc status=none\n"
           "printf 'end' | dd of=\"$id.flv\" bs=1 seek=$((" + QByteArray::number(megabytes)
           + " * 1048576 - 3)) conv=notrunc status=none\n"
             "printf 'Saving to %s.flv\\n(100.0%%)\\r' \"$id\" >&2\n";
}

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

// An output folder on a file system other than the working directory's.
QString outputFolder(const QTemporaryDir &mountPoint, bool *mounted)
{
    *mounted = ::geteuid() == 0
               && run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                QStringLiteral("size=4g"), QStringLiteral("tmpfs"), mountPoint.path()});
    if (*mounted)
        return mountPoint.path();
    const QString shm = QStringLiteral("/dev/shm/lumora-bench-%1").arg(::getpid());
    QDir().mkpath(shm);
    return shm;
}

// Whether the target holds the fetched file's bytes: size, blocks really
// written, and the marks at both ends.
bool copiedWhole(const QString &path, const QString &id, qint64 size)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || info.st_size != size
        || qint64(info.st_blocks) * 512 < size)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(64);
    file.seek(size - 3);
    return start.startsWith("start " + id.toLatin1()) && file.read(3) == "end";
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int megabytes = app.arguments().contains(QStringLiteral("--megabytes"))
                              ? app.arguments().value(app.arguments().indexOf(QStringLiteral("--megabytes")) + 1).toInt()
                              : 500;
    QTextStream out(stdout);

    QTemporaryDir bin;
    QFile script(bin.filePath(external::fetcherProgram()));
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/bash\n" + fakeFetcher(megabytes));
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));

    QTemporaryDir work(QDir::homePath() + QStringLiteral("/.lumora-bench-XXXXXX"));
    QDir::setCurrent(work.path());
    QTemporaryDir mountPoint;
    bool mounted = false;
    const QString folder = outputFolder(mountPoint, &mounted);

    QStringList addresses;
    for (int id = 1; id <= Downloads; ++id)
        addresses << external::videoPageAddress(QString::number(id));
    MainWindow window;
    window.findChild<QLineEdit *>(QStringLiteral("url"))->setText(addresses.join(u';'));
    window.findChild<QLineEdit *>(QStringLiteral("outputfile"))->setText(folder);
    window.findChild<QCheckBox *>()->setChecked(false);
    window.findChild<QComboBox *>()->setCurrentIndex(Downloads - 1);
    window.show();
    auto *start = window.findChild<QPushButton *>(QStringLiteral("pushButton"));

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    qint64 longestAt = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - lastTick > longestGap) {
            longestGap = now - lastTick;
            longestAt = now;
        }
        lastTick = now;
        if (start->isEnabled())
            app.quit();
    });
    // The window is painted first; the clock then runs from the press of the
    // button, made from inside the running loop as a user's press is.
    app.processEvents();
    QTimer::singleShot(0, [&] {
        clock.start();
        ticks.start(TickMs);
        start->click();
    });
    app.exec();
    const qint64 total = clock.elapsed();

    int whole = 0;
    for (int id = 1; id <= Downloads; ++id)
        whole += copiedWhole(folder + QStringLiteral("/%1.mp4").arg(id), QString::number(id),
                             qint64(megabytes) * 1048576) ? 1 : 0;
    out << "status: " << window.findChild<QLineEdit *>(QStringLiteral("statusbar"))->text() << '\n'
        << "output folder: " << folder << (mounted ? " (tmpfs mounted for the run)" : " (/dev/shm)") << '\n'
        << "files copied whole: " << whole << '/' << Downloads << " of " << megabytes << " MB\n"
        << "batch time: " << total << " ms\n"
        << "longest event loop stall: " << longestGap << " ms (target < 50 ms), ending "
        << longestAt << " ms after the start\n";
    out.flush();

    QDir(folder).removeRecursively();
    if (mounted)
        run(QStringLiteral("umount"), {mountPoint.path()});
    return whole == Downloads && longestGap < 50 ? 0 : 1;
}

// The whole batch through the main window against the same children run by a
// shell: N videos of the demo portal, five at once, with the MP4 repair. The
// shell runs the fetcher and then ffmpeg with the window's own arguments, five
// addresses at a time, each in a staging folder of its own, and renames the
// video into the output folder. Printed for each pace: both times and their
// ratio (target <= 1.03 at full speed, <= 1.02 at real-time pace), the window's
// longest event loop stall (target < 16 ms) and the program's own CPU share,
// children excluded (target < 1 % of a core).
//
// The longest stall is split into the time the window's thread ran, the time
// it was ready but waited for a core, and the rest, when it was blocked in a
// system call (a process start, a file removal). The same ticks run in an
// idle loop beside the shell's batch, for the stalls the loaded machine makes
// by itself. The stall ticks cost CPU of their own; they are measured alone
// first and taken out of the CPU share.
//
//   bench_batch_vs_shell [--videos N] [--seconds S] [--rounds R] [--pace full|real|both] [--no-ticks]
//                        [--copy]
//
// --no-ticks leaves the stall ticks out, for a CPU share free of their cost.
// --copy turns the repair off: the fetched file itself becomes the video, and
// the shell moves it where the window places it.
//
// Defaults: 10 videos of 12 s, one round, both paces, repair on. The portal
// runs on the ports this build was configured with, with a catalogue of its
// own. One unmeasured batch by the shell warms the caches first.

#include "download/finishing.h"
#include "external/externalprograms.h"
#include "portalrun.h"
#include "windowdriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Slots = 5;
constexpr int TickMs = 2;
constexpr int FirstId = 3001;
constexpr qint64 StallTargetMs = 16;
constexpr const char *Patterns[] = {"testsrc2", "smptebars", "testsrc", "rgbtestsrc", "smptehdbars"};

struct Options
{
    int videos = 10;
    int seconds = 12;
    int rounds = 1;
    QStringList paces{QStringLiteral("full"), QStringLiteral("real")};
    bool ticks = true;
    bool repair = true;
};

Options readOptions(const QStringList &arguments)
{
    Options options;
    const auto value = [&arguments](const QString &name) {
        const qsizetype at = arguments.indexOf(name);
        return at > 0 ? arguments.value(at + 1) : QString();
    };
    const auto positive = [&value](const QString &name, int fallback) {
        const int number = value(name).toInt();
        return number > 0 ? number : fallback;
    };
    options.videos = positive(QStringLiteral("--videos"), options.videos);
    options.seconds = positive(QStringLiteral("--seconds"), options.seconds);
    options.rounds = positive(QStringLiteral("--rounds"), options.rounds);
    options.ticks = !arguments.contains(QStringLiteral("--no-ticks"));
    options.repair = !arguments.contains(QStringLiteral("--copy"));
    if (const QString pace = value(QStringLiteral("--pace")); pace == u"full" || pace == u"real")
        options.paces = QStringList{pace};
    return options;
}

QString title(int index)
{
    return QStringLiteral("Vertailu %1").arg(index + 1, 2, 10, QLatin1Char('0'));
}

QString address(int index)
{
    return external::videoPageAddress(QString::number(FirstId + index));
}

// The portal's catalogue: N videos of the same length, titles that are also
// the names of the saved files.
QString writeCatalogue(const QTemporaryDir &work, const Options &options)
{
    QFile file(work.filePath(QStringLiteral("catalogue.tsv")));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    for (int i = 0; i < options.videos; ++i)
        file.write(QStringLiteral("%1\t%2\tVertailukoe.\t%3\t%4\t%5\n")
                       .arg(FirstId + i)
                       .arg(title(i))
                       .arg(options.seconds)
                       .arg(QLatin1String(Patterns[i % std::size(Patterns)]))
                       .arg(300 + 20 * i)
                       .toUtf8());
    return file.fileName();
}

QString quoted(const QString &word)
{
    QString text = word;
    return u'\'' + text.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

QString commandLine(const QString &program, const QStringList &arguments)
{
    QStringList words{quoted(program)};
    for (const QString &argument : arguments)
        words << quoted(argument);
    return words.join(u' ');
}

// One shell function per address, then a loop that keeps five of them running.
QByteArray shellScript(const QString &fetcher, const Options &options)
{
    QString script = QStringLiteral("#!/bin/bash\n");
    QStringList jobs;
    for (int i = 0; i < options.videos; ++i) {
        const QString stage = QStringLiteral(".stage/%1").arg(i);
        const QString flv = title(i) + QStringLiteral(".flv");
        const QString mp4 = title(i) + QStringLiteral(".mp4");
        jobs << QStringLiteral("video%1").arg(i);
        const QString finish =
            options.repair ? commandLine(external::converterProgram(),
                                         external::converterArguments(finishing::converterFile(flv),
                                                                      finishing::converterFile(mp4)))
                                 + QStringLiteral(" 2>converter.log && mv -n -- %1 ../..").arg(quoted(mp4))
                           : QStringLiteral("mv -n -- %1 ../../%2").arg(quoted(flv), quoted(mp4));
        script += jobs.last() + QStringLiteral("() {\n    mkdir -p %1 && cd %1 &&\n    ").arg(quoted(stage))
                  + commandLine(fetcher, external::fetcherArguments(address(i)))
                  + QStringLiteral(" 2>fetcher.log &&\n    ") + finish
                  + QStringLiteral(" &&\n    cd ../.. && rm -r %1\n}\n").arg(quoted(stage));
    }
    script += QStringLiteral("running=0\nfor job in %1; do\n"
                             "    if ((running == %2)); then wait -n; ((running--)); fi\n"
                             "    $job &\n    ((running++))\ndone\nwait\n")
                  .arg(jobs.join(u' '))
                  .arg(Slots);
    return script.toUtf8();
}

int savedVideos(const QString &folder)
{
    return int(QDir(folder).entryList({QStringLiteral("Vertailu *.mp4")}, QDir::Files).size());
}

// What the scheduler counts for the calling thread, in ns: time on a core and
// time ready but waiting for one.
class ThreadTimes
{
public:
    ThreadTimes() : fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
    ~ThreadTimes() { ::close(fd); }
    ThreadTimes(const ThreadTimes &) = delete;
    ThreadTimes &operator=(const ThreadTimes &) = delete;

    struct Sample
    {
        long long ran = 0;
        long long waited = 0;
    };
    Sample read() const
    {
        char text[96] = {};
        Sample sample;
        if (::pread(fd, text, sizeof text - 1, 0) > 0)
            std::sscanf(text, "%lld %lld", &sample.ran, &sample.waited);
        return sample;
    }

private:
    int fd;
};

struct Stall
{
    qint64 ms = 0;
    qint64 endMs = 0; // after the start of the watch
    double ranMs = 0;
    double waitedMs = 0;
};

// The largest gap between two ticks of a short timer in the window's thread.
class StallWatch
{
public:
    StallWatch()
    {
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, [this] { tick(); });
    }

    void start(bool ticking = true)
    {
        last = threadTimes.read();
        lastTick = 0;
        clock.start();
        if (ticking)
            ticks.start(TickMs);
    }
    void stop() { ticks.stop(); }
    qint64 elapsedNs() const { return clock.nsecsElapsed(); }

    Stall longest;
    int overTarget = 0;

private:
    void tick()
    {
        const qint64 now = clock.elapsed();
        const ThreadTimes::Sample sample = threadTimes.read();
        if (now - lastTick >= StallTargetMs)
            ++overTarget;
        if (now - lastTick > longest.ms)
            longest = {now - lastTick, now, (sample.ran - last.ran) / 1e6, (sample.waited - last.waited) / 1e6};
        lastTick = now;
        last = sample;
    }

    QTimer ticks;
    QElapsedTimer clock;
    const ThreadTimes threadTimes;
    ThreadTimes::Sample last;
    qint64 lastTick = 0;
};

struct Run
{
    double seconds = 0;
    int saved = 0;
    QString problem;
    Stall stall;
    int stallsOverTarget = 0;
    double cpuPercent = 0;
};

Run runShell(const QTemporaryDir &work, const QString &fetcher, const Options &options, const QString &name)
{
    Run run;
    const QString folder = work.filePath(name);
    QDir().mkpath(folder);
    QFile script(work.filePath(name + QStringLiteral(".sh")));
    if (!script.open(QIODevice::WriteOnly) || script.write(shellScript(fetcher, options)) < 0) {
        run.problem = QStringLiteral("cannot write ") + script.fileName();
        return run;
    }
    script.close();
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.setStandardErrorFile(work.filePath(name + QStringLiteral(".log")));
    QEventLoop loop;
    QObject::connect(&shell, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&shell, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    // The same ticks in an idle loop beside the shell's batch: the stalls the
    // machine makes by itself under that load, to set the window's against.
    StallWatch watch;
    watch.start(options.ticks);
    shell.start(QStringLiteral("bash"), {script.fileName()});
    if (shell.waitForStarted(-1))
        loop.exec();
    run.seconds = watch.elapsedNs() / 1e9;
    watch.stop();
    run.stall = watch.longest;
    run.stallsOverTarget = watch.overTarget;
    run.saved = savedVideos(folder);
    return run;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
           + usage.ru_stime.tv_usec / 1e6;
}

// The window shown and painted, so that its first paint counts nowhere.
void settle(WindowDriver &driver)
{
    if (!QTest::qWaitForWindowExposed(driver.window.get()))
        QTextStream(stderr) << "the window was not shown" << Qt::endl;
    QCoreApplication::processEvents();
}

// What the stall ticks cost by themselves, in % of a core: a second of them
// beside an idle window.
double tickPercent()
{
    WindowDriver driver;
    settle(driver);
    StallWatch watch;
    const double before = cpuSeconds();
    watch.start();
    QTimer::singleShot(1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    watch.stop();
    return 100 * (cpuSeconds() - before) / (watch.elapsedNs() / 1e9);
}

// The clock and the stall ticks start with the press of "Tallenna", made from
// inside the running loop as a user's press is; the batch has ended when the
// controls come back.
Run runWindow(const QTemporaryDir &work, const Options &options, const QString &name)
{
    Run run;
    const QString folder = work.filePath(name);
    QDir().mkpath(folder);
    QStringList addresses;
    for (int i = 0; i < options.videos; ++i)
        addresses << address(i);

    WindowDriver driver;
    StallWatch watch;
    double cpuBefore = 0;
    QObject::connect(driver.line("statusbar"), &QLineEdit::textChanged, [&] {
        if (!driver.controlsEnabled())
            return;
        run.seconds = watch.elapsedNs() / 1e9;
        run.cpuPercent = 100 * (cpuSeconds() - cpuBefore) / run.seconds;
        QCoreApplication::quit();
    });
    settle(driver);
    QTimer::singleShot(0, [&] {
        cpuBefore = cpuSeconds();
        watch.start(options.ticks);
        driver.startBatch(addresses.join(u';'), folder, Slots, options.repair);
    });
    QCoreApplication::exec();
    watch.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    run.stall = watch.longest;
    run.stallsOverTarget = watch.overTarget;
    run.saved = savedVideos(folder);
    if (driver.status() != QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!"))
        run.problem = driver.status();
    return run;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

QString figure(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

void printRound(QTextStream &out, const QString &pace, int round, const Run &shell, const Run &window,
                double ticks, int videos)
{
    const Stall &stall = window.stall;
    out << pace << ", round " << round + 1 << ": shell " << figure(shell.seconds, 2) << " s, window "
        << figure(window.seconds, 2) << " s, ratio " << figure(window.seconds / shell.seconds, 3);
    if (ticks == 0) {
        out << "; stalls not measured; program CPU " << figure(window.cpuPercent, 2) << " % of a core; saved "
            << shell.saved << '+' << window.saved << '/' << videos << ' ' << window.problem << Qt::endl;
        return;
    }
    out << "; longest stall " << stall.ms << " ms (ending " << stall.endMs << " ms after the press; "
        << figure(stall.ranMs, 1) << " ms on a core, " << figure(stall.waitedMs, 1) << " ms waiting for one, "
        << figure(qMax(0.0, stall.ms - stall.ranMs - stall.waitedMs), 1) << " ms blocked), "
        << window.stallsOverTarget << " gaps >= " << StallTargetMs << " ms (an idle loop beside the shell: "
        << shell.stall.ms << " ms, " << shell.stallsOverTarget << " gaps); program CPU "
        << figure(window.cpuPercent - ticks, 2) << " % of a core (" << figure(window.cpuPercent, 2)
        << " % with the ticks); saved " << shell.saved << '+' << window.saved << '/' << videos << ' '
        << window.problem << Qt::endl;
}

// Alternate rounds run the shell first, so that a machine growing busier or
// idler hurts neither side alone.
bool runPace(QTextStream &out, const QTemporaryDir &work, const QString &fetcher, const Options &options,
             const QString &pace, double ticks)
{
    const bool full = pace == u"full";
    const QString paceName = full ? QStringLiteral("full speed") : QStringLiteral("real-time pace");
    PortalRun::setFastPace(full);
    QList<double> ratios;
    qint64 stall = 0;
    qint64 idleStall = 0;
    double cpu = 0;
    bool whole = true;
    for (int round = 0; round < options.rounds; ++round) {
        const QString stem = QStringLiteral("%1-%2-").arg(pace).arg(round);
        Run shell;
        if (round % 2 == 0)
            shell = runShell(work, fetcher, options, stem + QStringLiteral("shell"));
        const Run window = runWindow(work, options, stem + QStringLiteral("window"));
        if (round % 2 != 0)
            shell = runShell(work, fetcher, options, stem + QStringLiteral("shell"));
        ratios << window.seconds / shell.seconds;
        stall = qMax(stall, window.stall.ms);
        idleStall = qMax(idleStall, shell.stall.ms);
        cpu = qMax(cpu, window.cpuPercent - ticks);
        whole = whole && shell.saved == options.videos && window.saved == options.videos
                && window.problem.isEmpty();
        printRound(out, paceName, round, shell, window, ticks, options.videos);
    }
    out << paceName << ": median ratio " << figure(median(ratios), 3) << " (target <= "
        << figure(full ? 1.03 : 1.02, 2) << "), ";
    if (options.ticks)
        out << "longest stall " << stall << " ms (target < " << StallTargetMs << "; an idle loop's "
            << idleStall << " ms), ";
    out << "highest program CPU " << figure(cpu, 2) << " % (target < 1)" << Qt::endl;
    return whole;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Options options = readOptions(app.arguments());
    QTextStream out(stdout);

    QTemporaryDir work;
    // The batch journal and the saved-videos record of the bench's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(work.filePath(QStringLiteral("state"))));
    const QString catalogue = writeCatalogue(work, options);
    if (catalogue.isEmpty()) {
        out << "cannot write the catalogue in " << work.path() << Qt::endl;
        return 1;
    }
    PortalRun portal(catalogue);
    if (const QString problem = portal.start(work.path()); !problem.isEmpty()) {
        out << problem << Qt::endl;
        return 1;
    }
    const QString fetcher = QStandardPaths::findExecutable(external::fetcherProgram());
    out << options.videos << " videos of " << options.seconds << " s, " << Slots
        << " at once, repair " << (options.repair ? "on" : "off") << "; fetcher " << fetcher
        << "; folders in " << work.path() << Qt::endl;
    runShell(work, fetcher, options, QStringLiteral("warm-up"));
    const double ticks = options.ticks ? tickPercent() : 0;
    if (options.ticks)
        out << "stall ticks every " << TickMs << " ms cost " << figure(ticks, 2) << " % of a core by themselves"
            << Qt::endl;

    bool whole = true;
    for (const QString &pace : options.paces)
        whole = runPace(out, work, fetcher, options, pace, ticks) && whole;
    if (const QString problem = portal.stop(); !problem.isEmpty())
        out << problem << Qt::endl;
    return whole ? 0 : 1;
}

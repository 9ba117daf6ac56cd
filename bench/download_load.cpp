// Two figures of the download path: how fast the fetcher output parser reads
// realistic rtmpdump output arriving in 4 KiB reads, and how much CPU the
// program itself spends while five downloads run side by side.
//
//   bench_download_load [--seconds N]   (N: length of each download, default 60)

#include "app/mainwindow.h"
#include "download/outputparser.h"
#include "external/externalprograms.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

namespace {

constexpr qsizetype ParserBytes = 50 * 1000 * 1000;
constexpr qsizetype ReadSize = 4096;
constexpr int Downloads = 5;

// What the fetcher writes for a long video: its banner, the save line, then
// progress lines in rtmpdump's format, each ended by a carriage return.
QByteArray fetcherOutput()
{
    QByteArray text = "RTMPDump v2.4\n(c) 2010 Andrej Stepanchuk, Howard Chu, The Flvstreamer Team; "
                      "license: GPL\nConnecting ...\nINFO: Connected...\nSaving to "
                      "P\xc3\xa4iv\xc3\xa4n uutiset.flv\nStarting download at: 0.000 kB\n";
    const qsizetype lines = ParserBytes / 36;
    for (qsizetype i = 0; text.size() < ParserBytes; ++i) {
        const double done = double(i) / double(lines);
        text += QByteArray::number(done * 3.6e6, 'f', 3) + " kB / " + QByteArray::number(done * 7200, 'f', 2)
                + " sec (" + QByteArray::number(done * 100, 'f', 1) + "%)\r";
    }
    return text + "\nDownload complete\n";
}

double parserMegabytesPerSecond()
{
    const QByteArray text = fetcherOutput();
    outputparser::State state;
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < text.size(); at += ReadSize) {
        state.output += external::childText(text.mid(at, ReadSize));
        outputparser::scanFetching(state);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (state.percent1 < 90 || state.baseName != QString::fromLatin1("P\xc3\xa4iv\xc3\xa4n uutiset."))
        QTextStream(stderr) << "the parser misread the output: " << state.percent1 << ", " << state.baseName << "\n";
    return double(text.size()) / 1e6 / seconds;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
           + usage.ru_stime.tv_usec / 1e6;
}

// A stand-in fetcher on PATH that prints two progress lines a second.
bool installFetcher(const QTemporaryDir &programs, int seconds)
{
    QFile script(QDir(programs.path()).filePath(external::fetcherProgram()));
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write("#!/bin/bash\nid=\"${@: -1}\"\nprintf 'Saving to %s.flv\\n' \"$id\" >&2\n"
                 "printf 'video %s' \"$id\" > \"$id.flv\"\nsteps=" + QByteArray::number(seconds * 2)
                 + "\nfor ((i = 1; i <= steps; ++i)); do\n"
                   "  printf '%d.000 kB / %d.00 sec (%d.0%%)\\r' $((i * 100)) $((i / 2)) $((i * 100 / steps)) >&2\n"
                   "  sleep 0.5\ndone\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(programs.path()) + ':' + qgetenv("PATH"));
    return true;
}

struct BatchLoad
{
    double wallSeconds = 0;
    double cpuSeconds = 0;
    QString endText;
};

BatchLoad runBatch(int seconds)
{
    QTemporaryDir programs;
    QTemporaryDir work;
    if (!installFetcher(programs, seconds) || !QDir::setCurrent(work.path()))
        return {};
    // The batch journal and the saved-videos record of the bench's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(work.filePath(QStringLiteral("state"))));
    MainWindow window;
    auto *status = window.findChild<QLineEdit *>(QStringLiteral("statusbar"));
    window.findChild<QLineEdit *>(QStringLiteral("url"))->setText(QStringLiteral("a;b;c;d;e"));
    window.findChild<QLineEdit *>(QStringLiteral("outputfile"))->setText(work.path());
    window.findChild<QComboBox *>(QStringLiteral("threadcount"))->setCurrentIndex(Downloads - 1);
    window.findChild<QCheckBox *>(QStringLiteral("checkBox"))->setChecked(false);

    BatchLoad load;
    QObject::connect(status, &QLineEdit::textChanged, &window, [&](const QString &text) {
        if (window.findChild<QPushButton *>(QStringLiteral("pushButton"))->isEnabled()) {
            load.endText = text;
            QCoreApplication::quit();
        }
    });
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    window.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    QCoreApplication::exec();
    load.cpuSeconds = cpuSeconds() - cpuBefore;
    load.wallSeconds = clock.nsecsElapsed() / 1e9;
    QDir::setCurrent(QDir::tempPath());
    return load;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const qsizetype option = arguments.indexOf(QStringLiteral("--seconds"));
    const int seconds = option > 0 && option + 1 < arguments.size() ? arguments.at(option + 1).toInt() : 60;

    QTextStream out(stdout);
    out << "parser: " << QString::number(parserMegabytesPerSecond(), 'f', 1)
        << " MB/s on 50 MB of fetcher output in 4 KiB reads" << Qt::endl;

    const BatchLoad load = runBatch(qMax(1, seconds));
    out << "batch: " << Downloads << " downloads of " << seconds << " s, 2 progress lines a second: "
        << QString::number(load.cpuSeconds, 'f', 3) << " s CPU in " << QString::number(load.wallSeconds, 'f', 1)
        << " s = " << QString::number(100 * load.cpuSeconds / load.wallSeconds, 'f', 3)
        << " % of one core (target < 1 %); end text: " << load.endText << Qt::endl;
    return 0;
}

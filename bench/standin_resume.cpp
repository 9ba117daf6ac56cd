// Peak memory of the stand-in fetcher while it resumes a 2 GiB partial
// recording: it must stream the kept file and the continuation, whatever
// their size. Prints the largest resident size of the stand-in and its
// children; exits 1 at 64 MiB or more.
//
//   bench_standin_resume [--gib N]   (N: size of the partial, default 2)
//
// A real server cannot be made to send gigabytes quickly here, so this very
// program stands in for rtmpdump (it is put first on PATH under that name):
// it writes the continuation the server would send from the requested time,
// with the timestamps shifted as rtmpdump shifts them. The video page comes
// from a loopback HTTP server through the real wget.

#include "loopbackhttpserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

constexpr quint32 frameMs = 40;          // 25 pictures a second, one of them a keyframe
constexpr qint64 pictureBytes = 80 * 1024; // about 16 Mbit/s, an HD recording
constexpr qint64 soundBytes = 1024;
constexpr quint32 continuationMs = 4 * 60 * 1000; // what the server sends after the cut

QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xff);
    return out;
}

// A tag whose body depends only on its type and original time, so that the
// continuation repeats the partial's keyframe byte for byte.
QByteArray tag(quint8 type, quint32 originalMs, quint32 shift)
{
    const bool keyframe = originalMs % 1000 == 0;
    const qint64 size = type == 9 ? pictureBytes : soundBytes;
    QByteArray body(size, char('a' + originalMs / frameMs % 26));
    body[0] = type == 9 ? char(keyframe ? 0x12 : 0x22) : char(0x2f);
    const quint32 ms = originalMs + shift;
    return char(type) + bigEndian(quint32(size), 3) + bigEndian(ms & 0xffffff, 3) + char(ms >> 24)
        + QByteArray(3, '\0') + body + bigEndian(quint32(11 + size), 4);
}

const QByteArray flvHeader("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13);

// Writes pictures and sound from `fromMs` until the file reaches `bytes` or
// the time reaches `toMs`; returns the time reached.
quint32 writeTags(QFile &file, quint32 fromMs, quint32 toMs, qint64 bytes, quint32 shift)
{
    quint32 ms = fromMs;
    for (; ms < toMs && file.size() < bytes; ms += frameMs) {
        file.write(tag(9, ms, shift));
        file.write(tag(8, ms, shift));
    }
    return ms;
}

// As rtmpdump: --start S --flv FILE writes the stream from the first keyframe
// after S on, every time shifted by S.
int actAsRtmpdump(const QStringList &arguments)
{
    const double startSeconds = arguments.value(arguments.indexOf(QStringLiteral("--start")) + 1).toDouble();
    const QString path = arguments.value(arguments.indexOf(QStringLiteral("--flv")) + 1);
    const quint32 shift = quint32(qRound(startSeconds * 1000));
    const quint32 firstKeyframe = (shift / 1000 + 1) * 1000;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(flvHeader);
    writeTags(file, firstKeyframe, firstKeyframe + continuationMs, std::numeric_limits<qint64>::max(), shift);
    return 0;
}

QString makePartial(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(flvHeader);
    writeTags(file, 0, std::numeric_limits<quint32>::max(), bytes, 0);
    file.write(tag(9, 0, 0).left(5000)); // cut off mid-picture
    return file.error() == QFileDevice::NoError ? QString() : file.errorString();
}

} // namespace

int main(int argc, char *argv[])
{
    if (QFileInfo(QString::fromLocal8Bit(argv[0])).fileName() == QLatin1String("rtmpdump")) {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        return actAsRtmpdump(arguments);
    }
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const qsizetype gibAt = app.arguments().indexOf(QStringLiteral("--gib"));
    const int gib = gibAt > 0 ? qMax(1, app.arguments().value(gibAt + 1).toInt()) : 2;
    QTemporaryDir work;
    const QString bin = work.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    QFile::link(QCoreApplication::applicationFilePath(), bin + QStringLiteral("/rtmpdump"));
    const QString partial = work.filePath(QStringLiteral("Pitkä tallenne.flv"));
    out << "writing a " << gib << " GiB partial ..." << Qt::endl;
    if (const QString problem = makePartial(partial, qint64(gib) << 30); !problem.isEmpty()) {
        out << "cannot write the partial: " << problem << Qt::endl;
        return 2;
    }
    const qint64 partialBytes = QFileInfo(partial).size();

    LoopbackHttpServer server;
    server.listen(QUrl(QStringLiteral("http://127.0.0.1:0")));
    server.setPage("/video/1", "<meta name=\"stream\" content=\"1.flv\">"
                               "<meta name=\"title\" content=\"Pitkä tallenne\">",
                   "text/html; charset=UTF-8");
    QProcess standin;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), bin + u':' + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("LUMORA_STANDIN_FAST"), QStringLiteral("1"));
    standin.setProcessEnvironment(env);
    standin.setWorkingDirectory(work.path());
    standin.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    standin.start(QStringLiteral(LUMORA_STANDIN), {"--rtmp", "rtmp://127.0.0.1:1/App", "--timeout", "10",
                                                   "--autoResume", "0", "--pageUrl",
                                                   QStringLiteral("http://127.0.0.1:%1/video/1").arg(server.serverPort())});
    QObject::connect(&standin, &QProcess::finished, &app, &QCoreApplication::quit);
    app.exec();
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const double peakMiB = usage.ru_maxrss / 1024.0;
    const qint64 resumedBytes = QFileInfo(partial).size();
    out << "stand-in exit code " << standin.exitCode() << ", " << clock.elapsed() / 1000.0 << " s\n"
        << "partial " << partialBytes / double(1 << 20) << " MiB, resumed file "
        << resumedBytes / double(1 << 20) << " MiB\n"
        << "peak resident size of the stand-in and its children: " << QString::number(peakMiB, 'f', 1)
        << " MiB (bound 64 MiB)" << Qt::endl;
    const bool grew = resumedBytes > partialBytes;
    return standin.exitCode() == 0 && grew && peakMiB < 64 ? 0 : 1;
}

// Whole MP4 files from the real ffmpeg against the files a failed write leaves.
#include "download/mp4check.h"
#include "external/externalprograms.h"
#include "mediaclip.h"
#include "testfiles.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray box(const char *type, const QByteArray &body)
{
    QByteArray size(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(8 + body.size()), size.data());
    return size + type + body;
}

// A box with the 64-bit size, as large files have; `size` may lie.
QByteArray largeBox(const char *type, const QByteArray &body, quint64 size)
{
    QByteArray header(16, Qt::Uninitialized);
    qToBigEndian<quint32>(1, header.data());
    memcpy(header.data() + 4, type, 4);
    qToBigEndian<quint64>(size, header.data() + 8);
    return header + body;
}

// A box whose size field says anything at all.
QByteArray sizedBox(quint32 size, const char *type, const QByteArray &body)
{
    QByteArray header(4, Qt::Uninitialized);
    qToBigEndian<quint32>(size, header.data());
    return header + type + body;
}

QByteArray convert(const QString &clip, const QString &mp4, const QStringList &extra = {})
{
    QProcess ffmpeg;
    QStringList arguments = external::converterArguments(clip, mp4);
    arguments.insert(arguments.size() - 1, QStringLiteral("-loglevel"));
    arguments.insert(arguments.size() - 1, QStringLiteral("error"));
    for (const QString &option : extra)
        arguments.insert(arguments.size() - 1, option);
    ffmpeg.start(external::converterProgram(), arguments);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return QByteArray();
    return readFile(mp4);
}

const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0isomiso2avc1mp41", 24));
const QByteArray moov = box("moov", box("mvhd", QByteArray(100, '\0')));
const QByteArray mdat = box("mdat", QByteArray(300, 'x'));

} // namespace

class TestMp4Check : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeOrCut_data();
    void wholeOrCut();
    void unreadableFile();

private:
    QTemporaryDir work;
    QByteArray indexLast;  // ffmpeg's own order: the index written at the end
    QByteArray indexFirst; // moved to the front, as for streaming
};

void TestMp4Check::initTestCase()
{
    const QString clip = makeFlvClip(work.path(), QStringLiteral("clip.flv"));
    QVERIFY(!clip.isEmpty());
    indexLast = convert(clip, work.filePath(QStringLiteral("last.mp4")));
    indexFirst = convert(clip, work.filePath(QStringLiteral("first.mp4")),
                         {QStringLiteral("-movflags"), QStringLiteral("+faststart")});
    QVERIFY(!indexLast.isEmpty() && !indexFirst.isEmpty());
    QVERIFY(indexLast.indexOf("moov") > indexLast.indexOf("mdat"));
    QVERIFY(indexFirst.indexOf("moov") < indexFirst.indexOf("mdat"));
}

void TestMp4Check::wholeOrCut_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("whole");

    QTest::newRow("ffmpeg, index last") << indexLast << true;
    QTest::newRow("ffmpeg, index first") << indexFirst << true;
    QTest::newRow("64-bit box size") << ftyp + moov + largeBox("mdat", "xyz", 19) << true;

    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("no moov") << ftyp + mdat << false;
    // ffmpeg on a full disk: the media box's size is filled in with the index, which never came.
    QTest::newRow("size never written, no index") << ftyp + box("free", {}) + sizedBox(0, "mdat", "xyz") << false;
    QTest::newRow("size never written, after the index") << ftyp + moov + sizedBox(0, "mdat", "xyz") << false;
    QTest::newRow("cut in the index") << indexLast.left(indexLast.size() - 100) << false;
    QTest::newRow("cut in the media") << indexFirst.left(indexFirst.size() - 100) << false;
    QTest::newRow("cut in a box header") << ftyp + moov + mdat.left(5) << false;
    QTest::newRow("box running past the end") << ftyp + moov + sizedBox(4000, "mdat", "xyz") << false;
    QTest::newRow("64-bit size past the end") << ftyp + moov + largeBox("mdat", "xyz", 1ULL << 62) << false;
    QTest::newRow("64-bit size cut short") << ftyp + moov + largeBox("mdat", {}, 20).left(12) << false;
    QTest::newRow("size below its header") << ftyp + sizedBox(4, "moov", "") << false;
    QTest::newRow("stray bytes after the end") << indexLast + "ab" << false;
    QTest::newRow("not an MP4 (FLV)") << QByteArray("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13) << false;
}

// The same answer from a device in memory and from the file on disk.
void TestMp4Check::wholeOrCut()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, whole);

    QBuffer buffer(&file);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const QString problem = mp4check::problem(buffer);
    QVERIFY2(problem.isEmpty() == whole, qPrintable(problem));

    QFile onDisk(work.filePath(QStringLiteral("row.mp4")));
    QVERIFY(onDisk.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(onDisk.write(file), file.size());
    onDisk.close();
    QCOMPARE(mp4check::fileProblem(onDisk.fileName()), problem);
}

void TestMp4Check::unreadableFile()
{
    QVERIFY(!mp4check::fileProblem(work.filePath(QStringLiteral("missing.mp4"))).isEmpty());
    QVERIFY(!mp4check::fileProblem(work.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestMp4Check)
#include "tst_mp4check.moc"

// Whole MP4 files from the real ffmpeg against the files a failed write leaves.
#include "download/mp4check.h"
#include "external/externalprograms.h"
#include "mediaclip.h"
#include "programrun.h"
#include "testfiles.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

// A box whose size field says anything at all.
QByteArray sizedBox(quint32 size, const char *type, const QByteArray &body)
{
    QByteArray header(4, Qt::Uninitialized);
    qToBigEndian<quint32>(size, header.data());
    return header + type + body;
}

QByteArray box(const char *type, const QByteArray &body)
{
    return sizedBox(8 + body.size(), type, body);
}

// A box with the 64-bit size, as large files have; `size` may lie.
QByteArray largeBox(const char *type, const QByteArray &body, quint64 size)
{
    QByteArray large(8, Qt::Uninitialized);
    qToBigEndian<quint64>(size, large.data());
    return sizedBox(1, type, large + body);
}

QByteArray convert(const QString &clip, const QString &mp4, const QStringList &extra = {})
{
    QStringList arguments = external::converterArguments(clip, mp4);
    const QString target = arguments.takeLast();
    arguments << QStringLiteral("-loglevel") << QStringLiteral("error") << extra << target;
    return runProgram(external::converterProgram(), arguments).exitCode == 0 ? readFile(mp4) : QByteArray();
}

const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0isomiso2avc1mp41", 24));
const QByteArray moov = box("moov", box("mvhd", QByteArray(100, '\0')));
const QByteArray mdat = box("mdat", QByteArray(300, 'x'));

} // namespace

class TestMp4Check : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QByteArray indexLast;  // ffmpeg's own order: the index written at the end
    QByteArray indexFirst; // moved to the front, as for streaming

private slots:
    void initTestCase()
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

    void wholeOrCut_data()
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
    void wholeOrCut()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, whole);
        QBuffer buffer(&file);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const QString problem = mp4check::problem(buffer);
        QVERIFY2(problem.isEmpty() == whole, qPrintable(problem));

        const QString onDisk = work.filePath(QStringLiteral("row.mp4"));
        QVERIFY(writeFile(onDisk, file));
        QCOMPARE(mp4check::fileProblem(onDisk), problem);
    }

    void unreadableFile()
    {
        QVERIFY(!mp4check::fileProblem(work.filePath(QStringLiteral("missing.mp4"))).isEmpty());
        QVERIFY(!mp4check::fileProblem(work.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMp4Check)
#include "tst_mp4check.moc"

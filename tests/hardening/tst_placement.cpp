// Placing a finished file on the file systems users save to: a local disk,
// an exFAT stick through FUSE (no renameat2, no links, names that differ only
// in case are one file) and a disk too full for a second copy. The odd file
// systems need root to mount; without it those rows are skipped.
#include "download/placement.h"
#include "download/targetnames.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
                    && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return ok;
}

// A file system of the given kind mounted on a fresh folder for the
// object's lifetime; `problem` says why it could not be made.
class Mounted
{
public:
    explicit Mounted(const QString &kind)
    {
        const QString point = folder.filePath(QStringLiteral("mnt"));
        QDir().mkpath(point);
        if (kind == u"local") {
            path = point;
            return;
        }
        if (::geteuid() != 0) {
            problem = QStringLiteral("mounting %1 needs root").arg(kind);
            return;
        }
        if (kind == u"full") {
            // Room for the source file, not for a second copy of it.
            if (run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=256k", "tmpfs", point}))
                path = unmountAt = point;
        } else {
            const QString image = folder.filePath(QStringLiteral("exfat.img"));
            QFile file(image);
            if (!file.open(QIODevice::WriteOnly) || !file.resize(16 << 20)) {
                problem = QStringLiteral("cannot make an image file");
                return;
            }
            file.close();
            if (run(QStringLiteral("mkfs.exfat"), {image})
                && run(QStringLiteral("losetup"), {"-f", "--show", image}, &loopDevice)
                && run(QStringLiteral("mount.exfat-fuse"), {QString::fromLocal8Bit(loopDevice), point}))
                path = unmountAt = point;
        }
        if (path.isEmpty())
            problem = QStringLiteral("cannot mount %1 here (exfatprogs, exfat-fuse, a loop device)").arg(kind);
    }
    ~Mounted()
    {
        if (!unmountAt.isEmpty())
            run(QStringLiteral("umount"), {unmountAt});
        if (!loopDevice.isEmpty())
            run(QStringLiteral("losetup"), {"-d", QString::fromLocal8Bit(loopDevice)});
    }
    Mounted(const Mounted &) = delete;
    Mounted &operator=(const Mounted &) = delete;

    QString path;
    QString problem;

private:
    QTemporaryDir folder;
    QString unmountAt;
    QByteArray loopDevice;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

class Descriptor
{
public:
    explicit Descriptor(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    const int fd;
};

} // namespace

Q_DECLARE_METATYPE(Placement::Method)

class TestPlacement : public QObject
{
    Q_OBJECT

private slots:
    void place_data();
    void place();
    void claimsIgnoreCase();
};

void TestPlacement::place_data()
{
    QTest::addColumn<QString>("filesystem"); // local, exfat, full
    QTest::addColumn<Placement::Method>("method");
    QTest::addColumn<QString>("taken"); // what takes the claimed name before the placing: "", file, link, case
    QTest::addColumn<QString>("placedAs"); // empty: not placed
    QTest::addColumn<QString>("errmsg");

    using M = Placement::Method;
    const QString free = QStringLiteral("Uutiset.mp4");
    const QString second = QStringLiteral("Uutiset (2).mp4");
    for (const auto &[name, method] : {std::pair{"renamed", M::Rename}, {"linked", M::Link}, {"copied", M::Copy}}) {
        QTest::addRow("local, %s, free", name) << "local" << method << "" << free << "";
        QTest::addRow("local, %s, a file took the name", name) << "local" << method << "file" << second << "";
        QTest::addRow("local, %s, a dangling link took the name", name) << "local" << method << "link" << second << "";
    }
    // On exFAT every method ends in the copy.
    QTest::newRow("exfat, free") << "exfat" << M::Rename << "" << free << "";
    QTest::newRow("exfat, a file took the name") << "exfat" << M::Rename << "file" << second << "";
    QTest::newRow("exfat, the name in capitals taken") << "exfat" << M::Rename << "case" << second << "";
    // A rename needs no room; a copy does, and fails whole.
    QTest::newRow("full, renamed") << "full" << M::Rename << "" << free << "";
    QTest::newRow("full, copied") << "full" << M::Copy << "" << QString()
                                  << "^ERROR: tiedostoa ei voitu tallentaa nimellä .*Uutiset\\.mp4: "
                                         + QRegularExpression::escape(QString::fromLocal8Bit(std::strerror(ENOSPC))) + u'$';
}

// The file gets the claimed name or the next free one; whatever took a name
// stays as it was; a failed placing leaves the source whole and no target.
void TestPlacement::place()
{
    QFETCH(QString, filesystem);
    QFETCH(Placement::Method, method);
    QFETCH(QString, taken);
    QFETCH(QString, placedAs);
    const Mounted mounted(filesystem);
    if (!mounted.problem.isEmpty())
        QSKIP(qPrintable(mounted.problem));
    const QDir out(mounted.path);
    QVERIFY(out.mkpath(QStringLiteral("staging")));
    const QByteArray video = QByteArray("FLV").repeated(160 * 1024 / 3);
    QVERIFY(writeFile(out.filePath(QStringLiteral("staging/Uutiset.flv")), video));
    if (filesystem == u"exfat")
        QVERIFY2(QFile::exists(out.filePath(QStringLiteral("staging/UUTISET.FLV"))), "not case-insensitive");

    QString target = TargetNames::claim(out.path(), QStringLiteral("Uutiset."));
    QCOMPARE(target, out.filePath(QStringLiteral("Uutiset.mp4")));
    // Taken by someone outside the program, after the claim.
    const QString other = out.filePath(taken == u"case" ? QStringLiteral("UUTISET.mp4") : QStringLiteral("Uutiset.mp4"));
    if (taken == u"link")
        QVERIFY(QFile::link(QStringLiteral("nowhere"), other));
    else if (!taken.isEmpty())
        QVERIFY(writeFile(other, "someone else's"));

    const Descriptor source(out.filePath(QStringLiteral("staging")));
    const Descriptor destination(out.path());
    Placement placement(source.fd, destination.fd, QStringLiteral("Uutiset."));
    placement.startFrom(method);
    const QString error = placement.place(QStringLiteral("Uutiset.flv"), &target);
    TargetNames::release(target);

    QFETCH(QString, errmsg);
    QVERIFY2(errmsg.isEmpty() ? error.isEmpty() : error.contains(QRegularExpression(errmsg)), qPrintable(error));
    QCOMPARE(placement.placed(), !placedAs.isEmpty());
    if (taken == u"link")
        QCOMPARE(QFile::symLinkTarget(other), out.filePath(QStringLiteral("nowhere")));
    else if (!taken.isEmpty())
        QCOMPARE(readFile(other), QByteArray("someone else's"));
    if (placedAs.isEmpty()) {
        QCOMPARE(readFile(out.filePath(QStringLiteral("staging/Uutiset.flv"))), video);
        QCOMPARE(out.entryList(QDir::Files), QStringList());
    } else {
        QCOMPARE(target, out.filePath(placedAs));
        QCOMPARE(readFile(target), video);
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("staging/Uutiset.flv"))));
    }
}

// FAT, exFAT and CIFS take names that differ only in case for one file, so
// two running downloads never get both.
void TestPlacement::claimsIgnoreCase()
{
    const QTemporaryDir out;
    const QString first = TargetNames::claim(out.path(), QStringLiteral("Sää uutiset."));
    QCOMPARE(TargetNames::claim(out.path(), QStringLiteral("SÄÄ UUTISET.")), out.filePath(QStringLiteral("SÄÄ UUTISET (2).mp4")));
    QCOMPARE(TargetNames::claim(out.path(), QStringLiteral("sää Uutiset.")), out.filePath(QStringLiteral("sää Uutiset (3).mp4")));
    TargetNames::release(first);
    QCOMPARE(TargetNames::claim(out.path(), QStringLiteral("SÄÄ uutiset.")), out.filePath(QStringLiteral("SÄÄ uutiset.mp4")));
}

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"

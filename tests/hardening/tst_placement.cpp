// Placing a finished file on the file systems users save to: a local disk,
// an exFAT stick and a disk too full for a second copy. The odd file systems
// need root to mount; without it those rows are skipped.
#include "download/placement.h"
#include "download/targetnames.h"
#include "mountedfilesystem.h"
#include "smalldisk.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A folder opened as the job's staging and output folders are.
struct Descriptor
{
    explicit Descriptor(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~Descriptor() { ::close(fd); }
    const int fd;
};

} // namespace

Q_DECLARE_METATYPE(Placement::Method)
Q_DECLARE_METATYPE(MountedFileSystem::Kind)

class TestPlacement : public QObject
{
    Q_OBJECT

private slots:
    void place_data()
    {
        QTest::addColumn<QString>("filesystem"); // local, exfat, full
        QTest::addColumn<Placement::Method>("method");
        // What takes the claimed name before the placing: "", file, link, case; or "gone": the file itself is gone.
        QTest::addColumn<QString>("taken");
        QTest::addColumn<QString>("placedAs"); // empty: not placed
        QTest::addColumn<QString>("errmsg");

        using M = Placement::Method;
        const QString free = QStringLiteral("Uutiset.mp4");
        const QString second = QStringLiteral("Uutiset (2).mp4");
        for (const auto &[how, m] : {std::pair{"renamed", M::Rename}, {"linked", M::Link}, {"reserved", M::Reserve}}) {
            QTest::addRow("local, %s, free", how) << "local" << m << "" << free << "";
            QTest::addRow("local, %s, a file took the name", how) << "local" << m << "file" << second << "";
            QTest::addRow("local, %s, a dangling link took the name", how) << "local" << m << "link" << second << "";
        }
        // On exFAT every method ends in the reservation.
        QTest::newRow("exfat, free") << "exfat" << M::Rename << "" << free << "";
        QTest::newRow("exfat, a file took the name") << "exfat" << M::Rename << "file" << second << "";
        QTest::newRow("exfat, the name in capitals taken") << "exfat" << M::Rename << "case" << second << "";
        // No method needs room for a second copy.
        QTest::newRow("full, renamed") << "full" << M::Rename << "" << free << "";
        QTest::newRow("full, reserved") << "full" << M::Reserve << "" << free << "";
        QTest::newRow("source gone") << "local" << M::Rename << "gone" << QString()
                                     << "^ERROR: tiedostoa Uutiset\\.flv ei voitu kirjoittaa levylle: ";
    }

    // The file gets the claimed name or the next free one; whatever took a name
    // stays as it was; a failed placing leaves no target.
    void place()
    {
        QFETCH(QString, filesystem);
        QFETCH(Placement::Method, method);
        QFETCH(QString, taken);
        QFETCH(QString, placedAs);
        using Kind = MountedFileSystem::Kind;
        const MountedFileSystem mounted(filesystem == u"exfat" ? Kind::ExFat : Kind::Plain, QStringLiteral("16M"));
        if (!mounted.problem.isEmpty())
            QSKIP(qPrintable(mounted.problem));
        // The full one has room for the source file, not for a second copy of it.
        std::optional<SmallDisk> full;
        if (filesystem == u"full" && !full.emplace(mounted.path, 256 * 1024).mounted())
            QSKIP(SmallDisk::NoMount);
        const QDir out(mounted.path);
        QVERIFY(out.mkpath(QStringLiteral("staging")));
        const QByteArray video = QByteArray("FLV").repeated(160 * 1024 / 3);
        QVERIFY(writeFile(out.filePath(QStringLiteral("staging/Uutiset.flv")), video));
        if (filesystem == u"exfat")
            QVERIFY2(QFile::exists(out.filePath(QStringLiteral("staging/UUTISET.FLV"))), "not case-insensitive");

        QString target = TargetNames::claim(out.path(), QStringLiteral("Uutiset."));
        QCOMPARE(target, out.filePath(QStringLiteral("Uutiset.mp4")));
        // Taken by someone outside the program, after the claim.
        const QString other = out.filePath(taken == u"case" ? u"UUTISET.mp4"_qs : u"Uutiset.mp4"_qs);
        if (taken == u"link")
            QVERIFY(QFile::link(QStringLiteral("nowhere"), other));
        else if (taken == u"gone")
            QVERIFY(QFile::remove(out.filePath(QStringLiteral("staging/Uutiset.flv"))));
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
        else if (!taken.isEmpty() && taken != u"gone")
            QCOMPARE(readFile(other), QByteArray("someone else's"));
        if (placedAs.isEmpty()) {
            QCOMPARE(out.entryList(QDir::Files), QStringList());
        } else {
            QCOMPARE(target, out.filePath(placedAs));
            QCOMPARE(readFile(target), video);
            QVERIFY(!QFile::exists(out.filePath(QStringLiteral("staging/Uutiset.flv"))));
        }
    }

    void twoProgramsAtOnce_data()
    {
        QTest::addColumn<MountedFileSystem::Kind>("kind");
        QTest::newRow("local") << MountedFileSystem::Kind::Plain;
        QTest::newRow("exfat") << MountedFileSystem::Kind::ExFat;
    }

    // Two copies of the program, whose claims know nothing of each other, place
    // their videos under one name at the same moment, again and again: each
    // video keeps a name of its own.
    void twoProgramsAtOnce()
    {
        QFETCH(MountedFileSystem::Kind, kind);
        const MountedFileSystem mounted(kind, QStringLiteral("16M"));
        if (!mounted.problem.isEmpty())
            QSKIP(qPrintable(mounted.problem));
        const QDir out(mounted.path);
        QVERIFY(out.mkpath(QStringLiteral("staging")));
        const Descriptor source(out.filePath(QStringLiteral("staging")));
        const Descriptor destination(out.path());
        const QStringList videos{QStringLiteral("first"), QStringLiteral("second")};
        for (int round = 0; round < 30; ++round) {
            QString targets[2], errors[2];
            std::atomic<int> ready{0};
            std::thread placers[2];
            for (int i = 0; i < 2; ++i) {
                QVERIFY(writeFile(out.filePath(u"staging/%1.flv"_qs.arg(videos[i])), videos[i].toUtf8()));
                targets[i] = out.filePath(QStringLiteral("Uutiset.mp4"));
                placers[i] = std::thread([&, i] {
                    Placement placement(source.fd, destination.fd, QStringLiteral("Uutiset."));
                    placement.startFrom(Placement::Method::Reserve);
                    ++ready;
                    while (ready < 2) {
                    }
                    errors[i] = placement.place(videos[i] + QStringLiteral(".flv"), &targets[i]);
                });
            }
            for (std::thread &placer : placers)
                placer.join();
            for (int i = 0; i < 2; ++i) {
                QVERIFY2(errors[i].isEmpty(), qPrintable(errors[i]));
                QCOMPARE(readFile(targets[i]), videos[i].toUtf8());
            }
            for (const QString &target : targets) {
                TargetNames::release(target);
                QVERIFY(QFile::remove(target));
            }
        }
    }

    // FAT, exFAT and CIFS take names that differ only in case for one file, so
    // two running downloads never get both.
    void claimsIgnoreCase()
    {
        const QTemporaryDir out;
        const auto claim = [&out](const QString &name) { return TargetNames::claim(out.path(), name); };
        const QString first = claim(u"Sää uutiset."_qs);
        QCOMPARE(claim(u"SÄÄ UUTISET."_qs), out.filePath(u"SÄÄ UUTISET (2).mp4"_qs));
        QCOMPARE(claim(u"sää Uutiset."_qs), out.filePath(u"sää Uutiset (3).mp4"_qs));
        TargetNames::release(first);
        QCOMPARE(claim(u"SÄÄ uutiset."_qs), out.filePath(u"SÄÄ uutiset.mp4"_qs));
    }
};

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"

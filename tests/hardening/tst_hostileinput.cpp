// What the user types into the main window or gives as the portal's address,
// and a batch that must leave nothing behind. The fetcher is a scripted fake that records its arguments
// byte for byte; the converter is the real ffmpeg.
#include "app/mainwindow.h"
#include "external/externalprograms.h"
#include "fakeprograms.h"
#include "leftovers.h"
#include "mediaclip.h"
#include "portalrun.h"
#include "testfiles.h"
#include "workingwindow.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 120000;

// Saves a real clip under the video's id, the last part of the address.
QByteArray clipFetcher(const QString &clip)
{
    return "id=${@: -1}; id=${id##*/}\ncp -- '" + clip.toUtf8()
           + "' \"$id.flv\"\nprintf '(100.0%%)\\r' >&2\nprintf 'Saving to %s.flv\\n' \"$id\" >&2\n";
}

// Pastes the text into the emptied address field and presses "Tallenna": five at
// a time into "out", repaired.
void start(WorkingWindow &window, const QString &addresses)
{
    window.setUp(window.work.filePath(u"out"_s), 5, true);
    window.line("url")->clear();
    window.line("url")->insert(addresses);
    window.button("pushButton")->click();
}
// Folders too: a staging folder left in "out" is a leftover.
QStringList outputFolder(const WorkingWindow &window)
{
    return QDir(window.work.filePath(u"out"_s)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
}

// The page address each fetcher was given: the last of its arguments.
QStringList recordedAddresses()
{
    QStringList addresses;
    for (const QStringList &arguments : FakePrograms::recordedArguments()) {
        if (arguments.size() >= 2 && arguments.at(arguments.size() - 2) == QLatin1String("--pageUrl"))
            addresses << arguments.constLast();
        else
            addresses << QStringLiteral("<malformed: %1>").arg(arguments.join(u'|'));
    }
    addresses.sort();
    return addresses;
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

    QTemporaryDir clips;
    QString clip;

private slots:
    void initTestCase()
    {
        clip = makeFlvClip(clips.path(), QStringLiteral("clip.flv"), 1.0);
        QVERIFY(!clip.isEmpty());
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("pieces"); // as the fetchers receive them, sorted
        QTest::addColumn<int>("total");

        // Empty pieces are no addresses: they reach no fetcher and count for nothing.
        QTest::newRow("empty pieces") << ";a;;" << QStringList{"a"} << 1;
        QTest::newRow("blanks") << " a b ; c" << QStringList{"a b", "c"} << 2;
        QTest::newRow("double quotes") << "\"a b\";\"" << QStringList{"\"", "\"a b\""} << 2;
        QTest::newRow("leading dashes") << "-x;--help;--pageUrl=/etc/passwd"
                                        << QStringList{"--help", "--pageUrl=/etc/passwd", "-x"} << 3;
        QTest::newRow("10,000 characters") << QString(10000, u'a') << QStringList{QString(10000, u'a')} << 1;
        QTest::newRow("non-ASCII") << u"http://portal/video/äö€"_qs << QStringList{u"http://portal/video/äö€"_qs} << 1;
        // A pasted line break separates addresses as ";" does.
        QTest::newRow("newline pasted in") << "a\nb;c\n" << QStringList{"a", "b", "c"} << 3;
    }

    // Every piece reaches a fetcher as exactly one address argument, never as an
    // option; every refusal is counted and kept for the status line's tool tip.
    void addresses()
    {
        QFETCH(QString, field);
        QFETCH(QStringList, pieces);
        FakePrograms fakes;
        fakes.addFetcher(FakePrograms::Fetcher::Records);
        WorkingWindow window;
        start(window, field);
        QVERIFY(window.waitForEnd(Patience));

        QCOMPARE(recordedAddresses(), pieces);
        QFETCH(int, total);
        const QString status = window.status();
        QVERIFY2(status.startsWith(QStringLiteral("Valmis: 0/%1 tallennettu, %1 epäonnistui – %2 palautettu kenttään. ")
                                       .arg(total)
                                       .arg(pieces.size())),
                 qPrintable(status));
        QCOMPARE(window.tip().count(u"ERROR: osoitteella ei ole videota"_s), pieces.size());
        QCOMPARE(window.tip().count(u"ERROR: tyhjää osoitetta"_s), total - pieces.size());
        QCOMPARE(outputFolder(window), QStringList());
    }

    void portalChoices_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("portal"); // empty: refused, and nothing changes
        QTest::addColumn<QString>("stream");

        QTest::newRow("portal only") << "http://127.0.0.1:5000" << "http://127.0.0.1:5000" << "rtmp://127.0.0.1";
        QTest::newRow("both") << "https://portal.example,rtmp://stream.example:1935"
                              << "https://portal.example" << "rtmp://stream.example:1935";
        QTest::newRow("slash and blanks") << " http://portal.example/ , rtmp://stream.example/ "
                                          << "http://portal.example" << "rtmp://stream.example";
        QTest::newRow("IPv6") << "http://[::1]:8080" << "http://[::1]:8080" << "rtmp://[::1]";
        for (const char *refused : {"http://portal.example/haku", "http://portal.example?q=1", "ftp://portal.example",
                                    "http://user@portal.example", "http://", "portal.example",
                                    "http://portal.example,http://stream.example", "http://portal.example,rtmp://s/x"})
            QTest::newRow(refused) << refused << QString() << QString();
    }

    // The address is glued in front of the program's own paths, so anything but
    // a scheme, a host and a port is refused with a message, not mended.
    void portalChoices()
    {
        QFETCH(QString, choice);
        QFETCH(QString, portal);
        QFETCH(QString, stream);

        const QString before = external::portalUrl() + u',' + external::streamUrl();
        const auto restore = qScopeGuard([&before] { external::choosePortal(before); });
        const QString wrong = external::choosePortal(choice);
        QCOMPARE(wrong.isEmpty(), !portal.isEmpty());
        QCOMPARE(external::portalUrl(), portal.isEmpty() ? before.section(u',', 0, 0) : portal);
        QCOMPARE(external::streamUrl(), stream.isEmpty() ? before.section(u',', 1) : stream);
        QCOMPARE(external::fetcherArguments(QStringLiteral("x")).at(1), external::streamUrl() + "/LumoraServer");
    }

    // Twelve videos through five slots, converted: afterwards no child process
    // is left and no file descriptor stays open. Leaks show in the sanitized build.
    void nothingLeftBehind()
    {
        FakePrograms fakes;
        fakes.addScript(external::fetcherProgram(), clipFetcher(clip));
        WorkingWindow window;
        // One download first, so that what Qt opens once for good is open already.
        start(window, external::videoPageAddress(u"1000"_s));
        QVERIFY(window.waitForEnd(Patience));
        QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QStringList(), 10000);
        const QStringList descriptors = openDescriptors();

        start(window, pageAddresses(numbered(u"%1"_s, 12, 2001)));
        QVERIFY(window.waitForEnd(Patience));

        QCOMPARE(window.status(), u"Tiedosto(t) onnistuneesti tallennettu!"_s);
        QCOMPARE(outputFolder(window).size(), 13);
        QCOMPARE(QDir().entryList({QStringLiteral("*.flv")}, QDir::Files), QStringList());
        // Jobs are deleted just after their last report.
        QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QStringList(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptors, 10000);
    }
};

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"

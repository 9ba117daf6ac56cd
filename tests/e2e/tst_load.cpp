// Twelve videos through five slots at full speed: every slot is refilled many
// times, and at the end every file is there and nothing is left running.
#include "download/downloader.h"
#include "leftovers.h"
#include "portalrun.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>
#include <QThreadPool>

class LoadTest : public PortalSuite
{
    Q_OBJECT

public:
    LoadTest() : PortalSuite(QStringLiteral(LUMORA_TEST_DATA_DIR "/load-catalogue.tsv")) {}

private slots:
    void twelveThroughFiveSlots();
};

void LoadTest::twelveThroughFiveSlots()
{
    constexpr int Patience = 240000;
    const QStringList ids = numbered(QStringLiteral("%1"), 12, 2001);
    const QString folder = work.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));
    // Qt's global thread pool keeps an idle thread, and its eventfd, for 30 s;
    // letting it go at once leaves only what the program itself holds open.
    QThreadPool::globalInstance()->setExpiryTimeout(100);

    WindowDriver driver;
    // Counted with the window up: the session bus's thread and the thread
    // children start from live as long as the process. The latter's event
    // dispatcher is waited for without running the event loop, which starts
    // threads of its own.
    QThread *const starter = downloader::starterThread();
    for (QDeadlineTimer deadline(Patience); !starter->eventDispatcher() && !deadline.hasExpired();)
        QThread::yieldCurrentThread();
    QVERIFY(starter->eventDispatcher());
    const QStringList descriptorsAtStart = openDescriptors();
    driver.startBatch(pageAddresses(ids), folder, 5);
    QVERIFY(!driver.controlsEnabled());
    QVERIFY(driver.waitForEnd(Patience));

    QCOMPARE(driver.status(), QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!"));
    QCOMPARE(driver.bar(), 100);
    // The last address stays in the field, ready for another press.
    QCOMPARE(driver.line("url")->text(), pageAddresses({ids.last()}));
    // Each video whole: as long as the one the portal streams.
    QCOMPARE(unsaved(folder, ids), QString());
    // Jobs are deleted just after their last report, and with them their pipes.
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QStringList(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsAtStart, 10000);
}

QTEST_MAIN(LoadTest)
#include "tst_load.moc"

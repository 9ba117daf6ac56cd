// Pictures of the program at work against the demo portal, on a real X server:
// the search dialog with its results, and the main window in the middle of a
// batch. The README shows them.
#include "app/toolkitfinnish.h"
#include "fakeprograms.h"
#include "leftovers.h"
#include "portalrun.h"
#include "windowdriver.h"

#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTest>

namespace {

constexpr int Patience = 60000;

// Kept as an artifact when it shows a painted window.
bool keep(const QImage &shot, const char *name)
{
    const QString path = QStringLiteral(LUMORA_ARTIFACTS_DIR "/") + QLatin1String(name);
    if (!looksPainted(shot) || !QDir().mkpath(QStringLiteral(LUMORA_ARTIFACTS_DIR)) || !shot.save(path))
        return false;
    qInfo("screenshot kept at %s", qPrintable(path));
    return true;
}

} // namespace

class DemoShotsTest : public PortalSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void searchThenBatch();
};

void DemoShotsTest::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "this test wants a real X server (run it under xvfb-run)");
    // As the program does, so that the dialog's buttons read as a user sees them.
    QVERIFY(loadToolkitFinnish(*QCoreApplication::instance()));
    PortalSuite::initTestCase();
}

void DemoShotsTest::searchThenBatch()
{
    WindowDriver driver;
    QVERIFY(QTest::qWaitForWindowExposed(driver.window.get()));
    QDialog *dialog = driver.finishedSearch(QStringLiteral("ää"), Patience);
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    WindowDriver::resultList(dialog)->item(0)->setSelected(true);
    WindowDriver::resultList(dialog)->item(1)->setSelected(true);
    // Rendered by the widget itself, so that a selection made a moment ago is in
    // the picture whether or not the X server has been repainted yet.
    QVERIFY(keep(dialog->grab().toImage(), "search-results.png"));
    QVERIFY(WindowDriver::choose(dialog, {}));

    // The real ffmpeg converts at the video's own pace (its -re), so that the
    // picture catches the bar in the middle of both conversions.
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QVERIFY(!ffmpeg.isEmpty());
    FakePrograms pace;
    pace.addScript(QStringLiteral("ffmpeg"), "exec '" + QFile::encodeName(ffmpeg) + "' -re \"$@\"\n");
    QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("out"))));
    driver.startBatch(driver.line("url")->text(), work.filePath(QStringLiteral("out")), 2);
    QTRY_VERIFY_WITH_TIMEOUT(childProcesses().filter(QStringLiteral("(ffmpeg)")).size() == 2 && driver.bar() >= 93,
                             Patience);
    const QImage shot = driver.window->grab().toImage();
    QVERIFY2(driver.bar() < 100, "the batch ended before the picture was taken");
    QVERIFY(!childProcesses().filter(QStringLiteral("(ffmpeg)")).isEmpty());
    QVERIFY(keep(shot, "batch-in-progress.png"));
}

QTEST_MAIN(DemoShotsTest)
#include "tst_demoshots.moc"

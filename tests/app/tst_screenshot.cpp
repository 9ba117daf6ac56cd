#include "app/mainwindow.h"
#include "leftovers.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

// Shows the real window on an X server and keeps a picture of it; the README's
// screenshot comes from here.
class TestScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void mainWindow();
};

void TestScreenshot::mainWindow()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "this test wants a real X server (run it under xvfb-run)");
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QImage shot;
    // Without a window manager the first paint may land a few frames after the expose.
    QTRY_VERIFY_WITH_TIMEOUT((shot = window.screen()->grabWindow(window.winId()).toImage(),
                              looksPainted(shot)),
                             10000);
    QCOMPARE(shot.size(), window.size());

    QVERIFY(QDir().mkpath(QStringLiteral(LUMORA_ARTIFACTS_DIR)));
    const QString path = QStringLiteral(LUMORA_ARTIFACTS_DIR "/mainwindow.png");
    QVERIFY(shot.save(path));
    qInfo("screenshot kept at %s", qPrintable(path));
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"

#include "app/mainwindow.h"
#include "formdrawing.h"
#include "leftovers.h"
#include "programrun.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// The window is up, every widget of the form shown and inside it, and the
// form's drawing kept at the font of now.
void verifyWholeForm(MainWindow &window)
{
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *central = window.centralWidget();
    const QList<QWidget *> widgets = central->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(widgets.size(), mainWindowDrawing.widgets.size());
    for (QWidget *widget : widgets) {
        QVERIFY2(widget->isVisible(), qPrintable(widget->objectName()));
        QVERIFY2(central->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
    }
    QVERIFY(window.rect().contains(central->geometry()));
    verifyDrawingKept(&window, central, mainWindowDrawing);
}

} // namespace

// Shows the real window on an X server and keeps pictures of it, at Debian's
// default font and at a large one; the README's come from here. Then shows it
// on a headless Wayland server.
class TestScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void mainWindow_data()
    {
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<QString>("file");
        QTest::newRow("default font") << 0 << "mainwindow.png";
        QTest::newRow("13 pt") << 13 << "mainwindow-large.png";
    }

    void mainWindow()
    {
        QFETCH(int, pointSize);
        QFETCH(QString, file);
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "this test wants a real X server (run it under xvfb-run)");
        const auto font = scopedAppFont(pointSize);
        MainWindow window;
        qInfo("font %s %d pt, window %d x %d", qPrintable(QFontInfo(window.font()).family()),
              window.font().pointSize(), window.width(), window.height());
        window.show();
        verifyWholeForm(window);

        QImage shot;
        // Without a window manager the first paint may land a few frames after the expose.
        QTRY_VERIFY_WITH_TIMEOUT((shot = window.screen()->grabWindow(window.winId()).toImage(), looksPainted(shot)),
                                 10000);
        QCOMPARE(shot.size(), window.size());
        QVERIFY(QDir().mkpath(QStringLiteral(LUMORA_ARTIFACTS_DIR)));
        const QString path = QStringLiteral(LUMORA_ARTIFACTS_DIR "/") + file;
        QVERIFY(shot.save(path));
        qInfo("screenshot kept at %s", qPrintable(path));
    }

    // Runs windowOnWayland in a copy of this suite that talks to Weston's headless
    // server, as the window would on a Wayland desktop.
    void onWayland()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty())
            QSKIP("weston is not installed (Debian package weston): the window is not tried on Wayland");
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        const QString socket = QStringLiteral("lumora-test");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.remove(QStringLiteral("DISPLAY"));

        QProcess weston;
        weston.setProcessEnvironment(environment);
        weston.setProcessChannelMode(QProcess::MergedChannels);
        weston.start(QStringLiteral("weston"),
                     {u"--backend=headless-backend.so"_qs, u"--no-config"_qs, "--socket=" + socket});
        const QString socketPath = runtime.filePath(socket);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socketPath) || weston.state() == QProcess::NotRunning, 20000);
        if (!QFile::exists(socketPath))
            QSKIP(qPrintable("Weston's headless server could not start: " + QString::fromLocal8Bit(weston.readAll())));

        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
        environment.insert(QStringLiteral("LUMORA_ON_WAYLAND"), QStringLiteral("1"));
        // In a sanitized build: Qt's Wayland plugins keep memory that is unloaded
        // with them before the leak check, where no suppression can name it.
        environment.insert(QStringLiteral("LSAN_OPTIONS"),
                           environment.value(QStringLiteral("LSAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        const Finished suite = runProgram(QCoreApplication::applicationFilePath(), {QStringLiteral("windowOnWayland")},
                                          environment, QProcess::MergedChannels);
        const QString output = QString::fromLocal8Bit(suite.out + suite.err);
        weston.terminate();
        QVERIFY(weston.waitForFinished(10000));
        QVERIFY2(suite.exitCode == 0, qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("PASS   : TestScreenshot::windowOnWayland()")), qPrintable(output));
    }

    void windowOnWayland()
    {
        if (qEnvironmentVariableIsEmpty("LUMORA_ON_WAYLAND"))
            QSKIP("run by onWayland against its own Weston");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        MainWindow window;
        window.show();
        verifyWholeForm(window);
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = window.grab().toImage(), looksPainted(shot)), 10000);
        QCOMPARE(shot.size(), window.size() * window.devicePixelRatio());
    }
};

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"

// One batch through the main window, in a program of its own so that a test
// can kill it mid-download: lumora-batchrun ADDRESSES FOLDER [THREADS [copy]].
// Says "started" once the batch has begun, ends with the batch, and ends as
// the program does on SIGTERM and SIGHUP.
#include "app/shutdownsignals.h"
#include "windowdriver.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3 || argc > 5)
        return 2;
    ShutdownSignals::install();
    WindowDriver driver;
    const int threads = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 1;
    const bool repair = argc <= 4 || qstrcmp(argv[4], "copy") != 0;
    driver.startBatch(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), threads, repair);
    std::puts("started");
    std::fflush(stdout);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&driver] {
        if (driver.controlsEnabled())
            QApplication::quit();
    });
    check.start(100);
    return app.exec();
}

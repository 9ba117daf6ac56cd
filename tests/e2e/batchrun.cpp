// The main window in a program of its own, so that a test can kill it
// mid-work: "lumora-batchrun ADDRESSES FOLDER [THREADS [copy]]" runs one batch,
// says "started" once it has begun and ends with it, and ends as the program
// does on SIGTERM and SIGHUP; "lumora-batchrun WORD" searches for the word and
// waits to be killed. The portal is the one LUMORA_PORTAL names.
#include "app/shutdownsignals.h"
#include "external/portaladdresses.h"
#include "windowdriver.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2 || argc > 5 || !external::choosePortalFrom(QString()).isEmpty())
        return 2;
    ShutdownSignals::install();
    WindowDriver driver;
    if (argc == 2) {
        driver.search(QString::fromLocal8Bit(argv[1]));
        return app.exec();
    }
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

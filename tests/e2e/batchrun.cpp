// The main window in a program of its own, so that a test can kill it
// mid-work: "lumora-batchrun ADDRESSES FOLDER" runs one batch and ends with
// it; "lumora-batchrun WORD" searches for the word and waits to be killed.
// The portal is the one LUMORA_PORTAL names.
#include "external/portaladdresses.h"
#include "windowdriver.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if ((argc != 2 && argc != 3) || !external::choosePortalFrom(QString()).isEmpty())
        return 2;
    WindowDriver driver;
    if (argc == 2) {
        driver.search(QString::fromLocal8Bit(argv[1]));
        return app.exec();
    }
    driver.startBatch(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), 1);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&driver] {
        if (driver.controlsEnabled())
            QApplication::quit();
    });
    check.start(100);
    return app.exec();
}

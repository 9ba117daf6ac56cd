// One batch through the main window, in a program of its own so that a test
// can kill it mid-download: lumora-batchrun ADDRESSES FOLDER. Ends with the batch.
#include "windowdriver.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    WindowDriver driver;
    driver.startBatch(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), 1);
    return driver.waitForEnd(600000) ? 0 : 1;
}

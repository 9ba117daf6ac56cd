#include "app/mainwindow.h"
#include "external/buildconfig.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora-downloader"));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));
    // Lets Wayland docks tie the window to its launcher, and so to its progress.
    QGuiApplication::setDesktopFileName(QStringLiteral(LUMORA_APP_ID));
    // --help, --version and anything unknown end here; the manual page says the same.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Save videos of the Lumora video portal as MP4 files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    MainWindow window;
    window.show();
    return app.exec();
}

#include "app/mainwindow.h"
#include "external/buildconfig.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>

namespace {

// --help and --version need no window, so they work on a text console too.
void allowTextOnly(int argc, char **argv)
{
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY")
                           && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                           && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    for (int i = 1; noDisplay && i < argc; ++i) {
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    allowTextOnly(argc, argv);
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

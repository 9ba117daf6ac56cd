#include "app/mainwindow.h"
#include "app/shutdownsignals.h"
#include "app/toolkitfinnish.h"
#include "external/buildconfig.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

namespace {

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Save videos of the Lumora video portal as MP4 files."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// Help, version and a wrong option end the program before any window opens,
// so they work on a text console too.
void allowTextOnly(int argc, char **argv)
{
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY")
                           && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                           && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!noDisplay)
        return;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(arguments) || parser.isSet(QStringLiteral("help"))
        || parser.isSet(QStringLiteral("help-all")) || parser.isSet(QStringLiteral("version")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
    describeOptions(parser);
    parser.process(app);

    loadToolkitFinnish(app);
    ShutdownSignals::install();
    MainWindow window;
    window.show();
    return app.exec();
}

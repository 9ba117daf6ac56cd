#include "app/mainwindow.h"
#include "app/shutdownsignals.h"
#include "app/toolkitfinnish.h"
#include "external/buildconfig.h"
#include "external/portaladdresses.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>

namespace {

// Qt's own options read in Finnish once its catalogue is installed; one more
// option of the program is one more addOption here.
void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Tallentaa Lumora-videopalvelun videoita MP4-tiedostoiksi."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("portal"),
                      QStringLiteral("Portaali ja sen striimipalvelin: http://…[,rtmp://…]"),
                      QStringLiteral("osoite")});
}

bool noDisplay()
{
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Help, version and a wrong option end the program before any window opens,
// so they work on a text console too. Returns whether the arguments ask only
// for text.
bool textOnly(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    describeOptions(parser);
    return !parser.parse(arguments) || parser.isSet(QStringLiteral("help"))
           || parser.isSet(QStringLiteral("help-all")) || parser.isSet(QStringLiteral("version"));
}

} // namespace

int main(int argc, char **argv)
{
    if (noDisplay()) {
        if (!textOnly(argc, argv)) {
            std::fputs("lumora-downloader: näyttöä ei löydy (DISPLAY ja WAYLAND_DISPLAY puuttuvat).\n"
                       "Ohjelma tarvitsee graafisen työpöydän; ilman sitä sen voi ajaa "
                       "virtuaalinäytöllä: xvfb-run lumora-downloader\n",
                       stderr);
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora-downloader"));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));
    // Lets Wayland docks tie the window to its launcher, and so to its progress.
    QGuiApplication::setDesktopFileName(QStringLiteral(LUMORA_APP_ID));
    // Before the options are read, so that Qt's own words in the help and in
    // an error are Finnish too.
    loadToolkitFinnish(app);
    // --help, --version and anything unknown end here; the manual page says the same.
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    const QString wrong = external::choosePortalFrom(parser.value(QStringLiteral("portal")));
    if (!wrong.isEmpty()) {
        fprintf(stderr, "lumora-downloader: %s\n", qPrintable(wrong));
        return 1;
    }

    ShutdownSignals::install();
    MainWindow window;
    window.show();
    return app.exec();
}

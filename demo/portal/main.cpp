// The demo portal's web server: search results and video pages from the catalogue.
#include "catalogue.h"
#include "portalserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo video portal (HTTP, 127.0.0.1 only)"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port to listen on."),
                      QStringLiteral("port")});
    parser.addOption({QStringLiteral("catalogue"), QStringLiteral("Catalogue file (TSV)."),
                      QStringLiteral("file")});
    parser.process(app);

    QTextStream err(stderr);
    bool portOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535 || !parser.isSet(QStringLiteral("catalogue"))) {
        err << "lumora-portal: need --port N and --catalogue FILE\n";
        return 2;
    }
    QString error;
    const auto catalogue = demo::loadCatalogue(parser.value(QStringLiteral("catalogue")), &error);
    if (catalogue.isEmpty()) {
        err << "lumora-portal: " << error << '\n';
        return 1;
    }
    demo::PortalServer server(catalogue);
    if (!server.listen(static_cast<quint16>(port))) {
        err << "lumora-portal: cannot listen on 127.0.0.1:" << port << ": "
            << server.errorString() << '\n';
        return 1;
    }
    err << "lumora-portal: listening on http://127.0.0.1:" << port << '\n';
    err.flush();
    return app.exec();
}

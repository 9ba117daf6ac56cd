// The demo portal's web server: search results and video pages from the catalogue.
#include "catalogue.h"
#include "portalserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>
#include <QTcpServer>
#include <QTextStream>

namespace {

// A port the system gives for the stream server, which cannot be asked for
// port 0 itself; whoever uses it binds it at once.
int printFreePort(QTextStream &out)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    out << probe.serverPort() << '\n';
    return 0;
}

// Written whole or not at all, so that a waiting script never reads half a number.
bool writePortFile(const QString &path, quint16 port)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(port) + '\n') > 0
           && file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo video portal (HTTP, 127.0.0.1 only)"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port to listen on; 0 lets the system pick one."),
                      QStringLiteral("port")});
    parser.addOption({QStringLiteral("port-file"), QStringLiteral("File to write the port listened on to."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("catalogue"), QStringLiteral("Catalogue file (TSV)."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("free-port"), QStringLiteral("Print a free port of 127.0.0.1 and exit.")});
    parser.process(app);

    QTextStream err(stderr);
    if (parser.isSet(QStringLiteral("free-port"))) {
        QTextStream out(stdout);
        return printFreePort(out);
    }
    bool portOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    if (!portOk || port > 65535 || !parser.isSet(QStringLiteral("catalogue"))) {
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
    const quint16 bound = server.listen(static_cast<quint16>(port));
    if (bound == 0) {
        err << "lumora-portal: cannot listen on 127.0.0.1:" << port << ": " << server.errorString() << '\n';
        return 1;
    }
    const QString portFile = parser.value(QStringLiteral("port-file"));
    if (!portFile.isEmpty() && !writePortFile(portFile, bound)) {
        err << "lumora-portal: cannot write " << portFile << '\n';
        return 1;
    }
    err << "lumora-portal: listening on http://127.0.0.1:" << bound << '\n';
    err.flush();
    return app.exec();
}

#include "portalserver.h"

#include "boundedtcpserver.h"
#include "pages.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QTcpSocket>

namespace demo {

PortalServer::PortalServer(QList<CatalogueEntry> catalogue, QObject *parent)
    : QObject(parent), m_catalogue(std::move(catalogue))
{
    m_http.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        answer(request, responder);
    });
}

quint16 PortalServer::listen(quint16 port)
{
    auto *server = new BoundedTcpServer(requestDeadlineMs, maxRequestBytes, &m_http);
    if (!server->listen(QHostAddress::LocalHost, port)) {
        m_error = server->errorString();
        delete server;
        return 0;
    }
    m_http.bind(server);
    return server->serverPort();
}

// The path as it came, still percent-encoded: decoding is the pages' business.
void PortalServer::answer(const QHttpServerRequest &request, QHttpServerResponder &responder) const
{
    const QByteArray method =
        QByteArray(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method())))
            .toUpper();
    const QByteArray target = request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    const HttpResponse response = routeRequest(method, target, m_catalogue);

    responder.writeStatusLine(QHttpServerResponder::StatusCode(response.status));
    responder.writeHeaders({{"Content-Type", response.contentType},
                            {"Content-Length", QByteArray::number(response.body.size())},
                            {"Connection", "close"}});
    responder.writeBody(method == "HEAD" ? QByteArray() : response.body);
    responder.socket()->disconnectFromHost();
}

} // namespace demo

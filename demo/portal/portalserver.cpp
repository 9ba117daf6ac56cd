#include "portalserver.h"

#include "pages.h"

#include <QTcpSocket>
#include <QTimer>

namespace demo {

PortalServer::PortalServer(QList<CatalogueEntry> catalogue, QObject *parent)
    : QObject(parent), m_catalogue(std::move(catalogue))
{
    connect(&m_server, &QTcpServer::newConnection, this, &PortalServer::acceptConnections);
}

bool PortalServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void PortalServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_pending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        QTimer::singleShot(requestDeadlineMs, socket, [socket] { socket->abort(); });
    }
}

void PortalServer::readRequest(QTcpSocket *socket)
{
    auto pending = m_pending.find(socket);
    if (pending == m_pending.end())
        return;
    pending->append(socket->readAll());
    int headerEnd = pending->indexOf("\r\n\r\n");
    if (headerEnd < 0)
        headerEnd = pending->indexOf("\n\n");
    if (headerEnd < 0) {
        if (pending->size() > maxRequestBytes)
            answer(socket, serializeResponse({400, "text/plain", "Request too long.\n"}, false));
        return;
    }
    const QByteArray requestLine = pending->left(pending->indexOf('\n')).trimmed();
    m_pending.erase(pending);
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/")) {
        answer(socket, serializeResponse({400, "text/plain", "Bad request line.\n"}, false));
        return;
    }
    const HttpResponse response = routeRequest(parts[0], parts[1], m_catalogue);
    answer(socket, serializeResponse(response, parts[0] == "HEAD"));
}

void PortalServer::answer(QTcpSocket *socket, const QByteArray &response)
{
    m_pending.remove(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->write(response);
    socket->disconnectFromHost();
}

} // namespace demo

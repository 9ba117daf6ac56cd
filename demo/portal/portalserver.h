#pragma once

#include "catalogue.h"

#include <QHash>
#include <QTcpServer>

class QTcpSocket;

namespace demo {

// One request per connection, HTTP/1.0 style. A client that sends an oversized
// or never-finished request is dropped after a deadline so it cannot hold a slot.
class PortalServer : public QObject
{
    Q_OBJECT
public:
    explicit PortalServer(QList<CatalogueEntry> catalogue, QObject *parent = nullptr);

    bool listen(quint16 port);
    QString errorString() const { return m_server.errorString(); }

private:
    static constexpr int requestDeadlineMs = 10000;
    static constexpr int maxRequestBytes = 16 * 1024;

    void acceptConnections();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &response);

    QTcpServer m_server;
    QList<CatalogueEntry> m_catalogue;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

} // namespace demo

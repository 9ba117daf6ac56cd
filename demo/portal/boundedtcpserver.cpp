#include "boundedtcpserver.h"

#include <QTcpSocket>
#include <QTimer>

namespace demo {

BoundedTcpServer::BoundedTcpServer(int deadlineMs, qint64 maxRequestBytes, QObject *parent)
    : QTcpServer(parent), m_deadlineMs(deadlineMs), m_maxRequestBytes(maxRequestBytes)
{
}

void BoundedTcpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    QTimer::singleShot(m_deadlineMs, socket, [socket] { socket->abort(); });
    // Connected before the HTTP server sees the socket, so this runs first on
    // every arrival, while the new bytes are still unread.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, received = qint64(0),
                                                     limit = m_maxRequestBytes]() mutable {
        received += socket->bytesAvailable();
        if (received > limit) {
            // Read off here, so the HTTP server gets none of it before the socket goes.
            socket->readAll();
            QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
        }
    });
    addPendingConnection(socket);
}

} // namespace demo

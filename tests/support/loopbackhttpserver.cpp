#include "loopbackhttpserver.h"

#include "external/portaladdresses.h"

#include <QHostAddress>

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &LoopbackHttpServer::accept);
}

bool LoopbackHttpServer::listenAsPortal()
{
    return server.listen(QHostAddress::LocalHost, 0)
           && external::choosePortal(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())).isEmpty();
}

void LoopbackHttpServer::setPage(const QByteArray &target, const QByteArray &body)
{
    pages.insert(target, body);
}

void LoopbackHttpServer::release()
{
    held = false;
    const auto sockets = std::exchange(waiting, {});
    for (const auto &[socket, target] : sockets) {
        if (socket)
            answer(socket, target);
    }
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHttpServer::readRequest(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    // The head is complete at its empty line; wget sends no body with GET.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    const QByteArrayList requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    received.append(target);
    if (held)
        waiting.append({socket, target});
    else
        answer(socket, target);
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const QByteArray &target)
{
    const bool known = pages.contains(target);
    const QByteArray body = pages.value(target);
    socket->write((known ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n")
                  + QByteArray("Content-Type: text/html\r\nConnection: close\r\nContent-Length: ")
                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}

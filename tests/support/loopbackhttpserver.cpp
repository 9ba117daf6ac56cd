#include "loopbackhttpserver.h"

#include "external/portaladdresses.h"

#include <QHostAddress>
#include <QTimer>

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

bool LoopbackHttpServer::listen(const QUrl &address)
{
    return server.listen(QHostAddress(address.host()), quint16(address.port(80)));
}

void LoopbackHttpServer::setPage(const QByteArray &target, const QByteArray &body, const QByteArray &contentType)
{
    pages.insert(target, {body, contentType});
}

void LoopbackHttpServer::release()
{
    held = false;
    for (const auto &[socket, target] : std::exchange(waiting, {})) {
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
    const auto [body, contentType] = pages.value(target, {QByteArray(), "text/html"});
    socket->write(QByteArray(known ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n")
                  + "Content-Type: " + contentType + "\r\nConnection: close\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\n\r\n");
    sendByte(socket, body);
}

// All at once, or a byte every 100 ms while trickling.
void LoopbackHttpServer::sendByte(QPointer<QTcpSocket> socket, QByteArray rest)
{
    if (!socket)
        return;
    if (rest.isEmpty() || !trickling) {
        socket->write(rest);
        socket->disconnectFromHost();
        return;
    }
    socket->write(rest.left(1));
    QTimer::singleShot(100, this, [this, socket, rest] { sendByte(socket, rest.mid(1)); });
}

#pragma once

#include <QByteArrayList>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// A tiny HTTP server for tests: records the target of every request line as
// received, answers a known target with its page and anything else with 404.
// While held, answers wait until release() is called. A trickling server sends
// a page a byte every 100 ms.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackHttpServer(QObject *parent = nullptr);

    // Listens on a port of loopback that the system gives, and makes this
    // server the portal that the program's searches and downloads ask.
    bool listenAsPortal();
    // Listens on the host and port of `address` (an http address); port 0
    // takes a free one, which serverPort() tells.
    bool listen(const QUrl &address);
    quint16 serverPort() const { return server.serverPort(); }
    // Stops listening; the portal's address then leads nowhere.
    void close() { server.close(); }
    void setPage(const QByteArray &target, const QByteArray &body,
                 const QByteArray &contentType = "text/html");
    void hold() { held = true; }
    void release();
    void trickle() { trickling = true; }

    QByteArrayList targets() const { return received; }

private:
    void accept();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &target);
    void sendByte(QPointer<QTcpSocket> socket, QByteArray rest);

    QTcpServer server;
    QHash<QByteArray, QPair<QByteArray, QByteArray>> pages; // body, content type
    QByteArrayList received;
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> waiting;
    bool held = false;
    bool trickling = false;
};

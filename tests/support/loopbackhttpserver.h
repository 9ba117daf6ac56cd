#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A tiny HTTP server for tests: records the target of every request line as
// received, answers a known target with its page and anything else with 404.
// While held, answers wait until release() is called.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackHttpServer(QObject *parent = nullptr);

    // Listens on a port of loopback that the system gives, and makes this
    // server the portal that the program's searches and downloads ask.
    bool listenAsPortal();
    // Stops listening; the portal's address then leads nowhere.
    void close() { server.close(); }
    void setPage(const QByteArray &target, const QByteArray &body);
    void hold() { held = true; }
    void release();

    QByteArrayList targets() const { return received; }

private:
    void accept();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &target);

    QTcpServer server;
    QHash<QByteArray, QByteArray> pages;
    QByteArrayList received;
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> waiting;
    bool held = false;
};

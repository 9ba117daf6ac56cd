#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// A tiny HTTP server for tests: records the target of every request line as
// received, answers a known target with its page and anything else with 404.
// While held, answers wait until release() is called.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackHttpServer(QObject *parent = nullptr);

    // Listens on the host and port of `address` (an http address).
    bool listen(const QUrl &address);
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

#pragma once

#include <QTcpServer>

namespace demo {

// Hands out connections that cannot hold a slot for long: each is dropped a
// deadline after it was accepted, or as soon as it has sent more than a
// request may hold. Answers are written and the connection closed well
// before the deadline.
class BoundedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    BoundedTcpServer(int deadlineMs, qint64 maxRequestBytes, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int m_deadlineMs;
    qint64 m_maxRequestBytes;
};

} // namespace demo

#pragma once

#include "catalogue.h"

#include <QHttpServer>

class QHttpServerRequest;
class QHttpServerResponder;

namespace demo {

// The portal's pages on Qt's HTTP server: one answer per connection, closed
// after it. Every request goes to one handler that routes on the raw path, so
// a search word with an encoded '/' still reaches the search page.
class PortalServer : public QObject
{
    Q_OBJECT
public:
    explicit PortalServer(QList<CatalogueEntry> catalogue, QObject *parent = nullptr);

    // The port it listens on, which the system picks for port 0; 0 when it cannot.
    quint16 listen(quint16 port);
    QString errorString() const { return m_error; }

private:
    static constexpr int requestDeadlineMs = 10000;
    static constexpr int maxRequestBytes = 16 * 1024;

    void answer(const QHttpServerRequest &request, QHttpServerResponder &responder) const;

    QHttpServer m_http;
    QList<CatalogueEntry> m_catalogue;
    QString m_error;
};

} // namespace demo

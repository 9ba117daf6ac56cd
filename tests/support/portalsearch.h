#pragma once

#include "app/mainwindow.h"
#include "loopbackhttpserver.h"
#include "search/searchwindow.h"
#include "windowdriver.h"

#include <QByteArrayList>
#include <QDialogButtonBox>
#include <QStringList>

#include <memory>

// The portal's search page for a word, as wget asks for it once percent-encoded.
QByteArray searchTarget(const QByteArray &encodedWord);
// Hits in the portal's shape, id N titled "Jakso N", described "Kuvaus N".
QByteArray resultsPage(const QByteArrayList &ids);
// The rows a search dialog lists for those hits, written out by hand.
QStringList resultRows(const QByteArrayList &ids);
// Fails the test unless a search for `word` asks the portal for `target` alone (for
// nothing when it is empty) and lists `rows`, by default the hit found there; a word
// taken for wget's option --output-document would write /tmp/lumora-hijacked.
void verifySearchAsks(const QString &word, const QByteArray &target,
                      const QStringList &rows = resultRows({"5"}));

// One search dialog for `word` against a loopback server as the portal, handing
// back into the address field of a main window of its own. The server listens
// once listenAsPortal() is called on it.
struct PortalSearch
{
    explicit PortalSearch(const QString &word = QStringLiteral("jakso"), const QString &field = QString());

    // Shows the dialog and starts its search.
    void start();
    // Listens as the portal with `page` as the results for "jakso" and starts the
    // search; when `held`, the answer waits for server.release() and this waits
    // until wget has asked. False when the server could not listen or wget did not ask.
    bool serve(const QByteArray &page, bool held = false);
    QListWidget *list() const { return WindowDriver::resultList(dialog.get()); }
    QStringList rows() const { return WindowDriver::resultRows(dialog.get()); }
    void press(QDialogButtonBox::StandardButton which);
    // Clicks the list's row as a user would.
    void click(int row);

    LoopbackHttpServer server;
    MainWindow window;
    QLineEdit &url;
    std::unique_ptr<searchWindow> dialog;
};

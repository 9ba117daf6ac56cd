#include "portalsearch.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

QByteArray searchTarget(const QByteArray &encodedWord)
{
    return "/haku//uusimmat/hakusana/" + encodedWord + "/media/video";
}

QByteArray resultsPage(const QByteArrayList &ids)
{
    QByteArray page = "<html><body><ul>\n";
    for (const QByteArray &id : ids) {
        const QByteArray link = "<a href=\"/video/" + id + "\">";
        page += "<li>" + link + "<img/></a>" + link + "Kanava</a>" + link + "1.2.</a>" + link + "Jakso "
                + id + "</a><p>Kuvaus " + id + "</p></li>\n";
    }
    return page + "</ul></body></html>\n";
}

QStringList resultRows(const QByteArrayList &ids)
{
    QStringList rows;
    for (const QByteArray &id : ids)
        rows << QStringLiteral("<%1> Jakso %1: Kuvaus %1").arg(QString::fromLatin1(id));
    return rows;
}

void verifySearchAsks(const QString &word, const QByteArray &target, const QStringList &rows)
{
    const QString hijacked = QStringLiteral("/tmp/lumora-hijacked");
    QFile::remove(hijacked);
    PortalSearch search(word);
    QVERIFY(search.server.listenAsPortal());
    search.server.setPage(target, resultsPage({"5"}));
    search.dialog->runSearch();
    QTRY_COMPARE_WITH_TIMEOUT(search.rows(), rows, 30000);
    QCOMPARE(search.server.targets(), target.isEmpty() ? QByteArrayList() : QByteArrayList{target});
    QVERIFY(!QFile::exists(hijacked));
}

PortalSearch::PortalSearch(const QString &word, const QString &field)
    : url(*window.findChild<QLineEdit *>(QStringLiteral("url"))),
      dialog(std::make_unique<searchWindow>(nullptr, word, &url))
{
    url.setText(field);
}

void PortalSearch::start()
{
    dialog->show();
    dialog->runSearch();
}

bool PortalSearch::serve(const QByteArray &page, bool held)
{
    if (!server.listenAsPortal())
        return false;
    server.setPage(searchTarget("jakso"), page);
    if (held)
        server.hold();
    start();
    return !held || QTest::qWaitFor([this] { return server.targets().size() == 1; }, 15000);
}

void PortalSearch::press(QDialogButtonBox::StandardButton which)
{
    dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(which)->click();
}

void PortalSearch::click(int row)
{
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(row)).center());
}

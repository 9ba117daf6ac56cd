#include "app/toolkitfinnish.h"
#include "external/buildconfig.h"
#include "external/externalprograms.h"

#include "fakeprograms.h"
#include "leftovers.h"
#include "portalsearch.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int childTimeout = 15000;
const QStringList inProgress{QStringLiteral("Haku käynnissä..")};

bool wgetRunning()
{
    return !childProcesses().filter(QStringLiteral("(wget)")).isEmpty();
}

} // namespace

class TestSearchWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("wget")).isEmpty(), "wget is not installed");
    }

    void requestedAddress_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QByteArray>("target");

        QTest::newRow("plain") << "uutiset" << searchTarget("uutiset");
        QTest::newRow("empty") << "" << searchTarget("");
        QTest::newRow("blank") << "kaksi sanaa" << searchTarget("kaksi%20sanaa");
        QTest::newRow("double quotes") << "sano \"hei\" nyt" << searchTarget("sano%20%22hei%22%20nyt");
        QTest::newRow("leading dash") << "-O /tmp/x" << searchTarget("-O%20%2Ftmp%2Fx");
        QTest::newRow("newline") << "rivi\nvaihto" << searchTarget("rivi%0Avaihto");
        QTest::newRow("question mark") << "ilmasto?" << searchTarget("ilmasto%3F");
        QTest::newRow("slash") << "AC/DC" << searchTarget("AC%2FDC");
        QTest::newRow("percent") << "50%" << searchTarget("50%25");
        QTest::newRow("hash") << "#1 hitti" << searchTarget("%231%20hitti");
        QTest::newRow("ä") << u"pää"_qs << searchTarget("p%C3%A4%C3%A4");
        QTest::newRow("unreserved kept") << "a-z_0.9~" << searchTarget("a-z_0.9~");
        QTest::newRow("dots only") << ".." << searchTarget("%2E%2E");
    }

    void requestedAddress()
    {
        QFETCH(QString, word);
        QFETCH(QByteArray, target);
        verifySearchAsks(word, target);
    }

    void listFilledWhenChildEnds()
    {
        PortalSearch search;
        // A tick before the search has started finds nothing, and leaves the search to come alone.
        search.dialog->pollProcess();
        QCOMPARE(search.rows(), QStringList());
        // The answer is held, so the child is still running at this tick.
        QVERIFY(search.serve(resultsPage({"11", "12"}), true));
        QSignalSpy tick(search.dialog->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout);
        QVERIFY(tick.wait(childTimeout));
        QCOMPARE(search.rows(), inProgress);

        search.server.release();
        QTRY_COMPARE_WITH_TIMEOUT(search.rows(), resultRows({"11", "12"}), childTimeout);
    }

    void listFilledWithoutTick_data()
    {
        QTest::addColumn<QByteArray>("page"); // none: the server answers 404
        // "real", "missing", "silent portal" or "server down" (real; the server silent or gone), a fake's script
        QTest::addColumn<QByteArray>("wget");
        QTest::addColumn<QStringList>("result");

        const QByteArray twoHits = resultsPage({"11", "12"});
        const auto failed = [](const QString &why) { return QStringList{u"Haku epäonnistui: "_qs + why}; };
        const QString noAnswer = u"palvelimeen ei saatu yhteyttä tai se ei vastannut"_qs;
        const qsizetype limit = searchWindow::AnswerLimit;
        QTest::newRow("hits") << twoHits << QByteArray("real") << resultRows({"11", "12"});
        QTest::newRow("no hits") << resultsPage({}) << QByteArray("real") << QStringList();
        QTest::newRow("answer at the limit")
            << twoHits + QByteArray(limit - twoHits.size(), ' ') << QByteArray("real") << resultRows({"11", "12"});
        QTest::newRow("answer past the limit") << twoHits + QByteArray(limit - twoHits.size() + 1, ' ')
                                               << QByteArray("real") << failed(u"palvelimen vastaus on yli 16 MiB"_qs);
        QTest::newRow("server down") << twoHits << QByteArray("server down") << failed(noAnswer);
        QTest::newRow("portal never answers") << twoHits << QByteArray("silent portal") << failed(noAnswer);
        QTest::newRow("page not found") << QByteArray() << QByteArray("real")
                                        << failed(u"palvelin vastasi virheellä"_qs);
        QTest::newRow("wget missing") << twoHits << QByteArray("missing")
                                      << failed(u"wget-ohjelmaa ei voitu käynnistää"_qs);
        // Scripted fakes on PATH, as the real wget cannot be made to die by a signal
        // or end with code 3 on cue: a page written before either is no result.
        QTest::newRow("wget killed") << twoHits << QByteArray("printf '%s' '" + twoHits + "'; kill -KILL $$")
                                     << failed(u"wget keskeytyi"_qs);
        QTest::newRow("wget exit code 3") << twoHits << QByteArray("printf '%s' '" + twoHits + "'; exit 3")
                                          << failed(u"wget päättyi virhekoodilla 3"_qs);
    }

    // The list fills when wget ends, with no tick of the poll timer at all, and
    // within half a minute whatever the portal does; a failure is one row that
    // OK does not hand back, even when clicked.
    void listFilledWithoutTick()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, wget);
        QFETCH(QStringList, result);

        PortalSearch search(QStringLiteral("jakso"), QStringLiteral("vanha"));
        QVERIFY(search.server.listenAsPortal());
        if (wget == "server down")
            search.server.close();
        if (!page.isEmpty())
            search.server.setPage(searchTarget("jakso"), page);
        FakePrograms programs(FakePrograms::Path::Only);
        if (wget == "silent portal")
            search.server.hold();
        if (wget == "real" || wget == "silent portal" || wget == "server down")
            QVERIFY(programs.linkReal(QStringLiteral("wget")));
        else if (wget != "missing")
            QVERIFY(!programs.addScript(QStringLiteral("wget"), wget).isEmpty());
        search.start();
        search.dialog->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();

        QTRY_COMPARE_WITH_TIMEOUT(search.rows(), result, 30000);
        if (result.size() == 1) {
            search.click(0);
            QVERIFY(search.list()->selectedItems().isEmpty());
            search.press(QDialogButtonBox::Ok);
            QCOMPARE(search.url.text(), QStringLiteral("vanha"));
        }
    }

    void closingStopsSearch_data()
    {
        QTest::addColumn<int>("how"); // a button of the box, 0 for the window's close button, -1 deleted

        QTest::newRow("OK") << int(QDialogButtonBox::Ok);
        QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel);
        QTest::newRow("window closed") << 0;
        QTest::newRow("dialog deleted") << -1;
    }

    // A dialog closed or deleted while its search runs ends its wget, and the
    // answer that comes after fills neither its list nor the field.
    void closingStopsSearch()
    {
        QFETCH(int, how);
        PortalSearch search(QStringLiteral("jakso"), QStringLiteral("vanha"));
        QVERIFY(search.serve(resultsPage({"21"}), true));
        QVERIFY(wgetRunning());

        if (how > 0)
            search.press(QDialogButtonBox::StandardButton(how));
        else if (how == 0)
            search.dialog->close();
        else
            search.dialog.reset();
        QVERIFY(!search.dialog || search.dialog->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(!wgetRunning(), childTimeout);
        search.server.release();
        QCOMPARE(childProcesses(), QStringList());
        if (search.dialog)
            QCOMPARE(search.rows(), inProgress);
        QCOMPARE(search.url.text(), QStringLiteral("vanha"));
    }

    void handBack_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("whileSearching");
        QTest::addColumn<QList<int>>("clicked");
        QTest::addColumn<QString>("result");

        const QString video = QStringLiteral("PORTAL/video/");
        QTest::newRow("empty field, three")
            << "" << false << QList<int>{0, 1, 2} << video + "31;" + video + "32;" + video + "33";
        QTest::newRow("empty field, one") << "" << false << QList<int>{1} << video + "32";
        QTest::newRow("field without ;")
            << "a/video/1" << false << QList<int>{0, 2} << "a/video/1;" + video + "31;" + video + "33";
        QTest::newRow("field ending in ;") << "a/video/1;" << false << QList<int>{2} << "a/video/1;" + video + "33";
        QTest::newRow("clicked twice is unselected") << "" << false << QList<int>{0, 1, 0} << video + "32";
        const QStringList thousands = numbered(video + u"%1"_qs, 3000, 10000);
        QTest::newRow("thousands in the field")
            << thousands.join(u';') << false << QList<int>{1} << thousands.join(u';') + u';' + video + "32";
        QTest::newRow("nothing selected") << "a/video/1" << false << QList<int>{} << "a/video/1";
        QTest::newRow("in-progress row clicked") << "a/video/1" << true << QList<int>{0} << "a/video/1";
        QTest::newRow("same video in two rows") << "" << false << QList<int>{0, 3, 1} << video + "31;" + video + "32";
    }

    void handBack()
    {
        QFETCH(QString, field);
        QFETCH(bool, whileSearching);
        QFETCH(QList<int>, clicked);
        QFETCH(QString, result);

        PortalSearch search;
        // The page lists video 31 twice, as a portal may.
        QVERIFY(search.serve(resultsPage({"31", "32", "33", "31"}), whileSearching));
        // The portal's address is known only once its server listens.
        search.url.setText(field.replace(QStringLiteral("PORTAL"), external::portalUrl()));
        if (!whileSearching)
            QTRY_COMPARE_WITH_TIMEOUT(search.list()->count(), 4, childTimeout);

        for (int row : clicked)
            search.click(row);
        search.press(QDialogButtonBox::Ok);
        result.replace(QStringLiteral("PORTAL"), external::portalUrl());
        // A long list shows its front; the rest waits behind it, every address kept.
        const QString shown = search.url.text();
        if (shown.size() < result.size()) {
            static const QRegularExpression number(QStringLiteral("\\d+"));
            QVERIFY(result.startsWith(shown.left(shown.lastIndexOf(u';'))));
            QVERIFY(result.endsWith(shown.section(u';', -1)));
            QCOMPARE(shown.count(u';') + 1 + number.match(search.url.toolTip()).captured().toInt(),
                     result.count(u';') + 1);
        } else {
            QCOMPARE(shown, result);
        }
        QVERIFY(search.dialog->isHidden());
        search.server.release();
    }

    void twoSearchesTwoDialogs()
    {
        LoopbackHttpServer server;
        QVERIFY(server.listenAsPortal());
        server.setPage(searchTarget("eka"), resultsPage({"51"}));
        server.setPage(searchTarget("toka"), resultsPage({"61", "62"}));
        WindowDriver driver;
        QDialog *first = driver.search(QStringLiteral("eka"));
        QDialog *second = driver.search(QStringLiteral("toka"));
        const auto dialogs = [&driver] { return driver.window->findChildren<searchWindow *>(); };
        QCOMPARE(dialogs().size(), 2);
        QVERIFY(first != second && first->isVisible() && second->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(WindowDriver::resultRows(first), resultRows({"51"}), childTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(WindowDriver::resultRows(second), resultRows({"61", "62"}), childTimeout);

        // A closed dialog goes; the other stays open, and closing the newest
        // leaves the window able to search again.
        first->reject();
        QTRY_COMPARE(dialogs(), QList<searchWindow *>{static_cast<searchWindow *>(second)});
        QVERIFY(second->isVisible());
        second->close();
        QTRY_VERIFY(dialogs().isEmpty());
        driver.button("pushButton_2")->click();
        QCOMPARE(dialogs().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(WindowDriver::resultRows(dialogs().first()).size(), 2, childTimeout);
    }

    // With Qt's catalogue loaded, as the program loads it, what Qt names itself
    // (the dialog's buttons, the folder chooser, a line edit's menu) is Finnish,
    // while the forms' own texts stay as they are.
    void toolkitSpeaksFinnish()
    {
        QTranslator *finnish = loadToolkitFinnish(*QCoreApplication::instance());
        QVERIFY2(finnish, "Qt's catalogue qtbase_fi.qm is missing (Debian package qt6-translations-l10n)");
        PortalSearch search;
        QScopedPointer<QMenu> menu(search.url.createStandardContextMenu());
        search.window.DialogOpen();
        auto *chooser = search.window.findChild<QFileDialog *>()->findChild<QDialogButtonBox *>();
        QCoreApplication::removeTranslator(finnish);
        delete finnish;

        auto *buttons = search.dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
        QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Peru"));
        QCOMPARE(chooser->button(QDialogButtonBox::Open)->text(), QStringLiteral("&Valitse"));
        QCOMPARE(chooser->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Peru"));
        QVERIFY2(menu->actions().first()->text().startsWith(QLatin1String("&Kumoa")),
                 qPrintable(menu->actions().first()->text()));
        QCOMPARE(search.dialog->windowTitle(), QStringLiteral("Haku lumorasta"));
        QCOMPARE(search.dialog->findChild<QLabel *>(QStringLiteral("label"))->text(),
                 QStringLiteral("Löytyi seuraavat tiedot"));
        QCOMPARE(search.window.windowTitle(), QStringLiteral("ZVB lumora downloader v" LUMORA_VERSION));
        QCOMPARE(search.window.findChild<QPushButton *>(QStringLiteral("pushButton"))->text(),
                 QStringLiteral("Tallenna"));
    }
};

QTEST_MAIN(TestSearchWindow)
#include "tst_searchwindow.moc"

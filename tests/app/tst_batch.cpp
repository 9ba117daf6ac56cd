#include "app/batchprogress.h"
#include "app/batchjournal.h"
#include "app/batchqueue.h"
#include "app/desktopintegration.h"
#include "app/failurereasons.h"
#include "app/savedvideos.h"
#include "app/statefolder.h"
#include "download/stagingfolder.h"
#include "external/buildconfig.h"
#include "fakeprograms.h"
#include "isolatedstate.h"
#include "leftovers.h"
#include "longticks.h"
#include "mountaccess.h"
#include "mountedfilesystem.h"
#include "smalldisk.h"
#include "testfiles.h"
#include "workingwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 30000;

const QString allSaved = u"Tiedosto(t) onnistuneesti tallennettu!"_s;
const QString restored = u"Edellinen erä jäi kesken: "_s;
const QString setAside = u"Edellisen erän luetteloa ei voitu lukea: se on siirretty nimelle "_s;

// The fetcher scripted by address (FakePrograms::Fetcher::ByAddress), so that the
// test decides when and how each job ends; saving into "out" without repair.
class Batch : public WorkingWindow
{
public:
    explicit Batch(bool onScreen = false) : WorkingWindow(onScreen)
    {
        fakes.addFetcher(FakePrograms::Fetcher::ByAddress);
        setUp(u"out"_s, 1, false);
    }
    QPushButton *button() const { return WindowDriver::button("pushButton"); }

    FakePrograms fakes;
};

// Hidden files and folders too.
QStringList everything(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot, QDir::Name);
}
QString journalFolder() { return isolatedstate::folder() + u'/' + QLatin1String(StateFolder::ProgramFolder); }

// Whether the journal on the disk comes to hold `address`. No event is processed
// meanwhile, so only a write under way already can bring it: one that a kill
// now would not have cost.
bool journalGets(const QString &address)
{
    const QDeadlineTimer deadline(Patience);
    do {
        for (const QString &name : QDir(journalFolder()).entryList({u"*.journal"_s}, QDir::Files)) {
            const auto contents = BatchJournal::parse(readFile(journalFolder() + u'/' + name));
            if (contents && contents->addresses.contains(address))
                return true;
        }
        QThread::msleep(5);
    } while (!deadline.hasExpired());
    return false;
}

// The arguments of the program's batch run in a process of its own.
QStringList batchRun(const QStringList &addresses, const QString &folder, int threads)
{
    return {addresses.join(u';'), folder, QString::number(threads), u"copy"_s};
}

void runApart(QProcess &program, const QStringList &addresses, const QString &folder, int threads)
{
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(LUMORA_BATCHRUN), batchRun(addresses, folder, threads));
}

// A new window holds the addresses of `list` whose video is not in `out`, in
// order, and at most one more whose video was being placed, with the batch's
// folder. Nothing starts by itself; one press saves each video exactly once.
void continueBatch(Batch &batch, const QStringList &list, const QString &out)
{
    batch.renew();
    const QStringList field = batch.field().split(u';', Qt::SkipEmptyParts);
    QStringList expected;
    QStringList whole;
    int extra = 0;
    for (const QString &address : list) {
        whole << address.section(u'-', 3) + u".mp4"_s;
        const bool saved = QFile::exists(out + u'/' + whole.last());
        if (!saved || field.contains(address))
            expected << address;
        extra += saved && field.contains(address);
    }
    QCOMPARE(field, expected);
    QVERIFY2(extra <= 1, qPrintable(field.join(u';')));
    QVERIFY(batch.controlsEnabled());
    // A batch that ended by itself left nothing.
    if (expected.isEmpty())
        return;
    // Named whole: a start from another working directory saves into the same folder.
    QCOMPARE(batch.line("outputfile")->text(), QDir(out).absolutePath());
    QVERIFY2(batch.status().startsWith(restored + QString::number(expected.size())), qPrintable(batch.status()));
    QCOMPARE(batch.line("statusbar")->cursorPosition(), 0);
    batch.button()->click();
    QVERIFY2(batch.ended().startsWith(allSaved), qPrintable(batch.status()));
    whole.sort();
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), whole);
    for (const QString &name : whole)
        QCOMPARE(readFile(out + u'/' + name), "video " + QFileInfo(name).baseName().toUtf8());
}

} // namespace

// Stands in for the desktop: the notification service, and a dock listening
// to the launcher entry signal.
class DesktopRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    bool listen(const QString &address)
    {
        QDBusConnection desk = QDBusConnection::connectToBus(address, u"desk"_s);
        // Bus signals reach a slot only by its signature text.
        return desk.registerObject(u"/org/freedesktop/Notifications"_s, this, QDBusConnection::ExportScriptableSlots)
               && desk.registerService(u"org.freedesktop.Notifications"_s)
               && desk.connect(QString(), QString(), u"com.canonical.Unity.LauncherEntry"_s, u"Update"_s, this,
                               SLOT(launcherUpdate(QString,QVariantMap)));
    }
    ~DesktopRecorder() override { QDBusConnection::disconnectFromBus(u"desk"_s); }

    QList<QStringList> notifications;
    QList<QVariantMap> launcher;

public slots:
    Q_SCRIPTABLE uint Notify(const QString &appName, uint, const QString &icon, const QString &summary,
                             const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        notifications << QStringList{appName, icon, summary, body, hints.value(u"desktop-entry"_s).toString()};
        return uint(notifications.size());
    }
    void launcherUpdate(const QString &uri, QVariantMap properties)
    {
        properties.insert(u"uri"_s, uri);
        launcher << properties;
    }
};

class TestBatch : public QObject
{
    Q_OBJECT

    // A session bus of the test's own, so that nothing reaches the desktop of
    // whoever runs the tests.
    QProcess bus;
    QString busAddress;

private slots:
    void initTestCase()
    {
        // Gone with the suite even when it crashes, with the descriptors it inherited.
        bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
        while (!bus.canReadLine() && bus.waitForReadyRead(10000)) {
        }
        busAddress = QString::fromLatin1(bus.readLine().trimmed());
        QVERIFY2(!busAddress.isEmpty(), qPrintable(bus.errorString()));
    }
    void cleanupTestCase()
    {
        bus.terminate();
        bus.waitForFinished();
    }
    void init() { isolatedstate::clear(); }

    // The batch's counting without a window. Steps: "take" the front address,
    // "edit:TEXT" the field, a job ends "ok" or "fail"; each with the total after it.
    void counting_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("steps"); // "STEP=TOTAL|..."
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("retry"); // the field that retryField() gives at the end
        // What the journal keeps at the end, so that a kill then costs none of it.
        QTest::addColumn<QString>("journal");

        QTest::newRow("left alone") << "a;b;c" << "take=3|take=3|ok=3|take=3|ok=3|ok=3" << true << "c" << "";
        QTest::newRow("added while addresses wait")
            << "a;b" << "take=2|edit:b;c;d=4|ok=4|take=4|ok=4|take=4|ok=4|take=4|ok=4" << true << "d" << "";
        QTest::newRow("added after the last was taken") << "a" << "take=1|edit:a;b=1|ok=1" << true << "a;b" << "b";
        QTest::newRow("waiting ones removed") << "a;b;c" << "take=3|edit:=1|ok=1" << true << "" << "";
        QTest::newRow("one removed, more added")
            << "a;b;c" << "take=3|edit:c=2|edit:c;d;e=4|fail=4" << false << "a;c;d;e" << "a;c;d;e";
        QTest::newRow("field emptied after a job ended")
            << "a;b;c" << "take=3|ok=3|edit: =1|take=1" << true << " " << "";
        QTest::newRow("failed last one, an address typed in front of it")
            << "a;b" << "take=2|take=2|ok=2|edit:c;b=2|fail=2" << true << "b;c" << "b;c";
        QTest::newRow("last one lengthened after its take")
            << "a;b" << "take=2|take=2|fail=2|edit:b2=2|ok=2" << true << "a;b2" << "a;b2";
        // A list pasted one a line after the last take comes trimmed, the last one's blanks too.
        QTest::newRow("last one's blanks gone in a paste after its take")
            << "a;b " << "take=2|ok=2|take=2|edit:b;c=2|fail=2" << true << "b;c" << "b;c";
        QTest::newRow("empty and blank pieces are no addresses")
            << "a;; ;b;" << "take=2|take=2|ok=2|fail=2" << true << "b" << "b";
    }
    void counting()
    {
        QFETCH(QString, field);
        QFETCH(QString, steps);
        BatchQueue queue;
        queue.begin(field);
        QList<int> atWork; // tickets, the oldest first
        for (const QString &each : steps.split(u'|')) {
            const QString step = each.section(u'=', 0, -2);
            if (step == "take"_L1 && queue.waiting()) {
                // As the window does, passing empty pieces over.
                BatchQueue::Taken taken;
                do {
                    taken = queue.take(field);
                    field = taken.field;
                } while (taken.address.isEmpty() && queue.waiting());
                QVERIFY(!taken.address.isEmpty());
                atWork << taken.ticket;
            } else if (step.startsWith("edit:"_L1)) {
                queue.fieldEdited(field = step.mid(5));
            } else if (step == "ok"_L1 || step == "fail"_L1) {
                queue.jobEnded(atWork.takeFirst(), step == "fail"_L1);
            }
            QCOMPARE(queue.total(), each.section(u'=', -1).toInt());
            QVERIFY(queue.done() <= queue.total());
        }
        QTEST(queue.finished(), "finished");
        QTEST(queue.retryField(field), "retry");
        QTEST(queue.unsaved(field).join(u';'), "journal");
    }

    void queue()
    {
        Batch batch;
        // A press without an address starts nothing and says why.
        for (const QString field : {"", " ; ;"}) {
            batch.start(field, 2);
            QCOMPARE(batch.status(), u"Ei osoitteita: liitä videoiden osoitteet kenttään"_s);
            QVERIFY(batch.controlsEnabled());
            QCOMPARE(batch.bar(), 0);
        }
        // A report while no batch runs shows the end again and counts nothing;
        // a report with no slot of its own is dropped.
        batch.window->valueChanged(0, 50, 0, 0, {});
        batch.window->valueChanged(MainWindow::SlotCount, 1, 1, 1, u"ERROR: ei paikkaa"_s);
        QCOMPARE(batch.status(), allSaved);
        QCOMPARE(batch.bar(), 100);
        QVERIFY(batch.controlsEnabled());
        QVERIFY(!QDir(journalFolder()).exists() || everything(journalFolder()).filter(u".journal"_s).isEmpty());
        batch.start(u"wait-ok-0-a;wait-ok-0-b;wait-ok-0-c"_s, 2);
        QCOMPARE(batch.field(), u"wait-ok-0-c"_s);
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..2/3"_s);
        QVERIFY(!batch.button()->isEnabled());
        QVERIFY(!batch.line("outputfile")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(batch.started("a") && batch.started("b"), Patience);
        QVERIFY(!batch.started("c"));
        batch.window->valueChanged(4, 100, 100, 0, {});
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..2/3"_s);
        QCOMPARE(batch.field(), u"wait-ok-0-c"_s);

        batch.release({"a"});
        QTRY_COMPARE_WITH_TIMEOUT(batch.status(), u"Valmiina 1/3"_s, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(batch.started("c"), Patience);
        QVERIFY(!batch.controlsEnabled());

        batch.release({"b", "c"});
        QCOMPARE(batch.ended(), allSaved);
        QCOMPARE(batch.bar(), 100);
        QCOMPARE(batch.field(), u"wait-ok-0-c"_s);
        QCOMPARE(readFile(u"out/c.mp4"_s), "video c");
    }

    // Addresses added while others wait join the batch and its count; waiting
    // ones removed leave it; the next batch starts from nothing.
    void queueEditedMidBatch()
    {
        Batch batch;
        batch.start(u"wait-ok-0-a;wait-ok-0-b;wait-ok-0-c"_s, 1);
        QTRY_VERIFY_WITH_TIMEOUT(batch.started("a"), Patience);
        batch.setField(batch.field() + u";wait-ok-0-d"_s);
        QVERIFY(journalGets(u"wait-ok-0-d"_s));
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..1/4"_s);
        batch.release({"a"});
        QTRY_COMPARE_WITH_TIMEOUT(batch.status(), u"Valmiina 1/4"_s, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(batch.started("b"), Patience);

        // c leaves the queue; d stays and is the last.
        batch.setField(u"wait-ok-0-d"_s);
        batch.release({"b"});
        QTRY_COMPARE_WITH_TIMEOUT(batch.status(), u"Valmiina 2/3"_s, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(batch.started("d"), Patience);
        QVERIFY(!batch.controlsEnabled());
        // The queue has run out: what is added now waits for the next batch, which
        // neither a kill nor a closed window costs.
        batch.setField(u"wait-ok-0-d;wait-ok-0-e"_s);
        QVERIFY(journalGets(u"wait-ok-0-e"_s));
        batch.release({"d"});
        QCOMPARE(batch.ended(), allSaved);
        QVERIFY(!batch.started("c") && !batch.started("e"));
        batch.renew();
        QCOMPARE(batch.field(), u"wait-ok-0-e"_s);

        // The next batch counts afresh, and its d, in the folder already, is not fetched again.
        batch.start(u"wait-ok-0-e;wait-ok-0-d;wait-ok-0-f"_s, 1);
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..1/3"_s);
        batch.setField(u"wait-ok-0-d"_s);
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..1/2"_s);
        batch.release({"e"});
        QCOMPARE(batch.ended(), allSaved + u" (1 oli jo kansiossa)"_s);
        QCOMPARE(batch.bar(), 100);
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b.mp4", "d.mp4", "e.mp4"}));
        QVERIFY(batch.runs("d") == 1 && !batch.started("f"));
    }

    // A list longer than the field shows waits behind its front. Takes go on in list
    // order; what the user empties or pastes changes only what the field shows.
    void longQueue()
    {
        QStringList expected = numbered(u"http://portal.example/video/%1"_s, 400);
        QString field = expected.join(u';');
        BatchQueue queue;
        queue.begin(field);
        QStringList taken;
        const auto takeOne = [&] {
            const BatchQueue::Taken one = queue.take(field);
            field = one.field;
            taken << one.address;
            queue.jobEnded(one.ticket, false);
            QVERIFY2(field.size() <= BatchQueue::ShownLength, qPrintable(field));
        };
        for (int i = 0; i < 10; ++i)
            takeOne();
        QCOMPARE(queue.total(), 400);
        QCOMPARE(int(field.count(u';')) + 1 + queue.behindField(), 390);

        for (const QString &shown : field.split(u';'))
            expected.removeOne(shown);
        field.clear();
        queue.fieldEdited(field);
        QCOMPARE(queue.total(), int(expected.size()));
        takeOne();
        // A long paste at the field's end: its addresses come after those shown,
        // before those behind.
        const QStringList more = numbered(u"http://portal.example/video/more%1"_s, 100);
        const qsizetype at = expected.indexOf(field.section(u';', -1)) + 1;
        field += u';' + more.join(u';');
        queue.fieldEdited(field);
        expected = expected.mid(0, at) + more + expected.mid(at);
        QCOMPARE(queue.total(), int(expected.size()));
        while (queue.waiting())
            takeOne();
        QCOMPARE(taken, expected);
        QCOMPARE(field, expected.last());
        QVERIFY(queue.finished());
        QCOMPARE(queue.total(), int(expected.size()));
        // Pasted after the last take, the list waits behind the field for the next batch.
        field = queue.show(field + u';' + more.join(u';'));
        QVERIFY(queue.behindField() > 0);
        QCOMPARE(queue.retryField(field), expected.last() + u';' + more.join(u';'));
    }

    // The user types over a selection at the field's end while a take brings waiting
    // addresses into view: the selection and the typed address stay, the others whole.
    void typingMidBatch()
    {
        const QStringList list = numbered(u"wait-ok-0-%1-of-a-list-longer-than-the-field-shows"_s, 100);
        Batch batch;
        batch.start(list.join(u';'), 1);
        QLineEdit *url = batch.line("url");
        QVERIFY(url->text().size() <= BatchQueue::ShownLength);
        url->end(false);
        QTest::keyClicks(url, u";now-ok-0-"_s);
        url->cursorBackward(true, 3);
        batch.release({list[0].section(u'-', 3)});
        QTRY_VERIFY_WITH_TIMEOUT(batch.started(list[1].section(u'-', 3)), Patience);
        QCOMPARE(url->selectedText(), u"-0-"_s);
        QTest::keyClicks(url, u"-0-typed"_s);
        QStringList shown = url->text().split(u';');
        QVERIFY2(shown.removeOne(u"now-ok-0-typed"_s), qPrintable(url->text()));
        QVERIFY(shown.size() > 1);
        QCOMPARE(shown, list.mid(2, shown.size()));
    }

    void oneLine_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("field");

        QTest::newRow("LF") << "a\nb\nc" << "a;b;c";
        QTest::newRow("CRLF, a blank line") << "a\r\nb\r\n\r\nc\r\n" << "a;b;c";
        QTest::newRow("CR") << "a\rb" << "a;b";
        QTest::newRow("breaks at both ends") << "\n\r\na\nb\n\n" << "a;b";
        QTest::newRow("lines of blanks") << "a\n \t\nb" << "a;b";
        QTest::newRow("blanks around lines") << " a \n\tb " << "a;b";
        QTest::newRow("break next to ;") << "a;\nb\n;c" << "a;b;c";
        QTest::newRow("empty piece between two ; stays") << "a;;b\nc" << "a;;b;c";
        QTest::newRow("breaks only") << "\r\n\n" << "";
    }
    void oneLine()
    {
        QFETCH(QString, pasted);
        QTEST(addressesOnOneLine(pasted), "field");
    }

    void pastedLists_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("shown"); // in the field before the press, or behind its front
        QTest::addColumn<QStringList>("saved");

        // As long as portal addresses, so that the list runs past the 32,767
        // characters that a line edit holds by default.
        const QString id = u"video-%1-of-a-list-as-long-as-one-of-the-portal"_s;
        const QString thousand = numbered(u"now-ok-0-"_s + id, 1000).join(u';');
        QStringList thousandSaved = numbered(id + u".mp4"_s, 1000);
        thousandSaved.sort();
        QTest::newRow("1,000 addresses") << thousand << thousand << thousandSaved;
        const QStringList abc{"a.mp4", "b.mp4", "c.mp4"};
        QTest::newRow("one a line, CRLF, a blank line")
            << "now-ok-0-a\r\nnow-ok-0-b\r\n\r\nnow-ok-0-c\r\n" << "now-ok-0-a;now-ok-0-b;now-ok-0-c" << abc;
        QTest::newRow("one a line, LF and CR")
            << "\nnow-ok-0-a\nnow-ok-0-b\rnow-ok-0-c\n" << "now-ok-0-a;now-ok-0-b;now-ok-0-c" << abc;
    }
    // Whatever the list's length and shape, each address is counted, saved, and
    // nothing else is started.
    void pastedLists()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        QFETCH(QStringList, saved);

        Batch batch;
        batch.paste(pasted);
        // A long list shows its front at once, so that typing beside it is quick;
        // the tool tip counts the rest, and a screen reader hears it too.
        static const QRegularExpression number(u"\\d+"_s);
        // -1 when the field shows more than a front, or its description lacks the count.
        const auto count = [&] {
            const QString front = batch.field();
            const QString tip = batch.line("url")->toolTip();
            if (front.size() > BatchQueue::ShownLength || !batch.line("url")->accessibleDescription().endsWith(tip))
                return -1;
            return int(front.count(u';')) + 1 + number.match(tip).captured().toInt();
        };
        const QString front = batch.field();
        QVERIFY(shown.startsWith(front) && (shown.size() == front.size() || shown.at(front.size()) == u';'));
        QCOMPARE(count(), int(saved.size()));
        batch.window->findChild<QComboBox *>()->setCurrentIndex(4);
        batch.button()->click();
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..5/%1"_s.arg(saved.size()));
        // The field shows the front of what waits, its tool tip counts the rest.
        QCOMPARE(count(), qMax(1, int(saved.size()) - 5));
        QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), 20 * Patience);
        QCOMPARE(batch.status(), allSaved);
        QCOMPARE(batch.savedFiles(), saved);
        QCOMPARE(QDir().entryList({u"started-*"_s}, QDir::Files).size(), saved.size());
    }

    // Two of five fail, out of start order: the field holds them in start order, then
    // what was added meanwhile; one press tries those, a failed one resumes its file.
    void failedComeBack()
    {
        Batch batch;
        batch.start(u"now-ok-0-a;wait-flaky-0-b;now-ok-0-c;now-dies-0-d;now-ok-0-e"_s, 5);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(u"out/e.mp4"_s) && batch.tip().contains("SIGKILL"_L1), Patience);
        batch.setField(batch.field() + u";now-ok-0-f"_s);
        batch.release({"b"});
        // d was killed first; b's failure is the other reason.
        QVERIFY2(batch.ended().startsWith(u"Valmis: 3/5 tallennettu, 2 epäonnistui – 2 palautettu kenttään. "
                                          "Yleisin syy (1/2): lataus keskeytyi"_s),
                 qPrintable(batch.status()));
        QCOMPARE(batch.field(), u"wait-flaky-0-b;now-dies-0-d;now-ok-0-f"_s);

        batch.button()->click();
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..5/3"_s);
        // The bar leaves the last batch's end at once, not at a job's first report.
        QCOMPARE(batch.bar(), 0);
        QCOMPARE(batch.ended(), allSaved);
        QCOMPARE(batch.field(), u"now-ok-0-f"_s);
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b.mp4", "c.mp4", "d.mp4", "e.mp4", "f.mp4"}));
        for (const QString id : {"a", "c", "e", "f"})
            QCOMPARE(batch.runs(id), 1);
        for (const QString id : {"b", "d"}) {
            QCOMPARE(batch.runs(id), 2);
            QVERIFY(QFile::exists(u"resumed-"_s + id));
        }
    }

    void batchEnd_data()
    {
        QTest::addColumn<QString>("addresses");
        QTest::addColumn<int>("threads");
        QTest::addColumn<QString>("endText");
        QTest::addColumn<QString>("failed"); // the ids whose failure the tool tip keeps
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QString>("field"); // after the batch

        const QStringList ab{"a.mp4", "b.mp4"};
        const QStringList none{".lumora-partial"};
        const QString failed = u"Valmis: %1 tallennettu, %2 epäonnistui – %2 palautettu kenttään. %3: fake failure "_s;
        const QString allFailed = u"now-fail-0-a;now-fail-0-b;now-fail-0-c"_s;
        const QString twoFailed = u"now-fail-0-a;now-fail-0-b;now-fail-0-a"_s;
        QTest::newRow("all saved") << "now-ok-0-a;now-ok-0-b" << 2 << allSaved << "" << ab << "now-ok-0-b";
        QTest::newRow("one failed") << "now-ok-0-a;now-fail-0-b;now-ok-0-c" << 2 << failed.arg("2/3", "1", "Syy") + 'b'
                                    << "b" << QStringList{".lumora-partial", "a.mp4", "c.mp4"} << "now-fail-0-b";
        QTest::newRow("all failed") << allFailed << 1 << failed.arg("0/3", "3", "Yleisin syy (1/3)") + 'a' << "abc"
                                    << none << allFailed;
        QTest::newRow("blanks around addresses") << " now-ok-0-a ;\tnow-ok-0-b  " << 2 << allSaved << "" << ab
                                                 << "\tnow-ok-0-b  ";
        QTest::newRow("most common reason") << twoFailed << 1 << failed.arg("0/3", "3", "Yleisin syy (2/3)") + 'a'
                                            << "aab" << none << twoFailed;
        // Empty pieces, as lines ending in ";" leave, are no addresses.
        QTest::newRow("empty pieces") << "now-ok-0-a;;now-ok-0-b;" << 1 << allSaved << "" << ab << "";
        // Two jobs of one address at once: a staging folder and a file for each.
        QTest::newRow("same address twice at once") << "wait-ok-0-a;wait-ok-0-a" << 2 << allSaved << ""
                                                    << QStringList{"a (2).mp4", "a.mp4"} << "wait-ok-0-a";
    }
    void batchEnd()
    {
        QFETCH(QString, addresses);
        QFETCH(int, threads);
        QFETCH(QString, failed);

        // No tick is needed for a batch to run to its end.
        const LongTicks noTicks;
        Batch batch;
        batch.start(addresses, threads);
        if (addresses.startsWith("wait"_L1)) {
            const QDir staging(u"out/.lumora-partial"_s);
            QTRY_COMPARE_WITH_TIMEOUT(staging.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2, Patience);
            batch.release({"a"});
        }
        QTEST(batch.ended(), "endText");
        QTEST(everything(u"out"_s), "saved");
        QCOMPARE(batch.bar(), 100);
        QTEST(batch.field(), "field");
        // The error messages outlive the texts that replaced them, for the mouse and
        // for a screen reader; a failed fetcher's message names the partial file it left.
        // Without one, a screen reader still hears what the line is for.
        QCOMPARE(batch.line("statusbar")->accessibleDescription(),
                 failed.isEmpty() ? u"Latausten ja haun tilaviestit sekä virheilmoitukset"_s : batch.tip());
        QStringList kept = batch.tip().split(u'\n', Qt::SkipEmptyParts);
        kept.sort();
        QCOMPARE(kept.size(), failed.size());
        for (int i = 0; i < failed.size(); ++i) {
            QVERIFY2(kept[i].startsWith(u"ERROR: fake failure "_s + failed[i]), qPrintable(kept[i]));
            QVERIFY2(kept[i].contains(u"säilytetty: "_s + batch.work.filePath(u"out/.lumora-partial/"_s)),
                     qPrintable(kept[i]));
        }
    }

    // A disk that fails the folder's flush after the rename: the video is saved
    // under its name, so it counts as saved, and the warning stays in the tool tip.
    void savedWithWarning()
    {
        const MountedFileSystem disk(u"fsyncdir"_s);
        if (!disk.problem.isEmpty())
            QSKIP(qPrintable(disk.problem));
        Batch batch;
        batch.line("outputfile")->setText(disk.path);
        QCOMPARE(batch.run(u"now-ok-0-a"_s, 1), allSaved + u" (1 varoitus, katso työkaluvihje)"_s);
        const QString warning = u"VAROITUS: video tallennettiin nimellä "_s + disk.path + u"/a.mp4"_s;
        QVERIFY2(batch.tip().startsWith(warning), qPrintable(batch.tip()));
        QCOMPARE(everything(disk.path), QStringList{u"a.mp4"_s});
    }

    void progress_data()
    {
        QTest::addColumn<QString>("addresses");
        QTest::addColumn<QStringList>("waiting");
        QTest::addColumn<int>("bar");

        // A fetch is nine tenths of a job, the copy the rest.
        QTest::newRow("three, one done, one at 50 %")
            << "now-ok-0-a;wait-ok-50-b;wait-ok-0-c" << QStringList{"b", "c"} << 48;
        QTest::newRow("four, one done, one at 40 %")
            << "now-ok-0-a;wait-ok-40-b;wait-ok-0-c;wait-ok-0-d" << QStringList{"b", "c", "d"} << 34;
        // An address is worth less than a whole point here; the bar still moves.
        const QStringList waiting = numbered(u"w%1"_s, 50);
        const QStringList list = numbered(u"now-ok-0-n%1"_s, 150) + QStringList{u"wait-ok-60-w0"_s}
                                 + numbered(u"wait-ok-0-w%1"_s, 50).mid(1);
        QTest::newRow("two hundred, 150 done, one at 60 %") << list.join(u';') << waiting << 75;
    }
    void progress()
    {
        QFETCH(QString, addresses);
        QFETCH(QStringList, waiting);
        QFETCH(int, bar);
        Batch batch;
        batch.start(addresses, 5);
        QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), bar, Patience);
        batch.release(waiting);
        QCOMPARE(batch.ended(), allSaved);
    }

    void barArithmetic_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("fetched"); // the one job at work; -1 for none
        QTest::addColumn<int>("finished");
        QTest::addColumn<int>("bar");

        QTest::newRow("1, fetching") << 1 << 0 << 50 << 0 << 45;
        QTest::newRow("1, converting") << 1 << 0 << 100 << 50 << 95;
        QTest::newRow("1, all but saved") << 1 << 0 << 100 << 100 << 99;
        QTest::newRow("3, one done, one at 50 %") << 3 << 1 << 50 << 0 << 48;
        QTest::newRow("34, all but one done") << 34 << 33 << -1 << 0 << 97;
        QTest::newRow("51, all but one done") << 51 << 50 << -1 << 0 << 98;
        QTest::newRow("60, half") << 60 << 30 << -1 << 0 << 50;
        QTest::newRow("60, all but one done, it fetched") << 60 << 59 << 100 << 0 << 99;
        QTest::newRow("100, all but one done") << 100 << 99 << -1 << 0 << 99;
        QTest::newRow("101, one done") << 101 << 1 << -1 << 0 << 0;
        QTest::newRow("101, two done") << 101 << 2 << -1 << 0 << 1;
        QTest::newRow("10,000, half, one at 50 %") << 10000 << 5000 << 50 << 0 << 50;
        QTest::newRow("10,000, all but one done") << 10000 << 9999 << 100 << 99 << 99;
    }
    void barArithmetic()
    {
        QFETCH(int, total);
        QFETCH(int, done);
        QFETCH(int, fetched);
        QFETCH(int, finished);
        const double atWork = fetched < 0 ? 0.0 : batchprogress::jobDone(fetched, finished);
        QTEST(batchprogress::batchPercent(total, done + atWork), "bar");
    }

    // At every moment of a batch the bar stands within a few points of the share
    // of its addresses saved, and 100 only at its end.
    void barFollowsSaved()
    {
        Batch batch;
        int farthest = 0;
        QList<int> shown;
        QObject::connect(batch.window->findChild<QProgressBar *>(), &QProgressBar::valueChanged, batch.window.get(),
                         [&](int value) {
                             const int saved = int(batch.savedFiles().size());
                             shown << value;
                             farthest = qMax(farthest, qAbs(value - saved * 100 / 60));
                             QVERIFY(value < 100 || saved == 60);
                         });
        batch.start(numbered(u"now-ok-0-v%1"_s, 60).join(u';'), 2);
        QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), 4 * Patience);
        QCOMPARE(batch.savedFiles().size(), 60);
        QVERIFY2(farthest <= 4, qPrintable(u"%1 points apart"_s.arg(farthest)));
        QVERIFY(std::is_sorted(shown.begin(), shown.end()));
        QCOMPARE(shown.last(), 100);
    }

    // With repair on, the conversion moves the bar on, below 100 until the video is saved.
    // The scripted converter writes its clock as ffmpeg 5.1 does, as slowly as the test lets it.
    void barDuringConversion()
    {
        Batch batch;
        batch.fakes.addScript(u"ffmpeg"_s, R"(
printf '  Duration: 00:00:10.00, start: 0.000000, bitrate: 300 kb/s\n' >&2
for t in 01 03 05 07 09; do
    printf 'frame=   25 fps=0.0 q=-1.0 size=       0kB time=00:00:%s.00 bitrate= 0.4kbits/s speed=1x    \r' $t >&2
    for ((i = 0; i < 5000; ++i)); do [ -e "$WORK/release-$t" ] && break; sleep 0.02; done
done
printf 'not an mp4' > "${@: -1}"
)");
        batch.window->findChild<QCheckBox *>()->setChecked(true);
        batch.start(u"now-ok-100-c"_s, 1);
        QList<int> seen;
        for (const QString t : {"01", "03", "05", "07"}) {
            QTRY_VERIFY2_WITH_TIMEOUT(batch.bar() > (seen.isEmpty() ? 90 : seen.last()),
                                      qPrintable(u"%1 %2"_s.arg(batch.bar()).arg(batch.status())), Patience);
            seen << batch.bar();
            QVERIFY2(seen.last() < 100, qPrintable(QString::number(seen.last())));
            batch.release({t});
        }
        QCOMPARE(seen, QList<int>({91, 93, 95, 97}));
        batch.release({"09"});
        QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    }

    // A message longer than the status line shows its start; one failure's reason is in
    // the end text, the whole message in the tool tip and for a screen reader.
    void reasonsInView()
    {
        const QString id = u"long"_s.repeated(30);
        const QString message = u"ERROR: fake failure "_s + id;
        Batch batch(true);
        QVERIFY(QTest::qWaitForWindowExposed(batch.window.get()));
        QLineEdit *status = batch.line("statusbar");
        batch.start(u"now-fail-0-"_s + id + u";wait-ok-0-b"_s, 1);
        QTRY_VERIFY_WITH_TIMEOUT(batch.started(u"b"_s), Patience);
        QVERIFY2(status->text().startsWith(message), qPrintable(status->text()));
        QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) > status->width());
        QCOMPARE(status->cursorPosition(), 0);
        QVERIFY(status->toolTip().startsWith(message));

        batch.release({"b"});
        const QString ended = u"Valmis: 1/2 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: fake failure "_s;
        QVERIFY2(batch.ended().startsWith(ended + id.left(20)), qPrintable(status->text()));
        QVERIFY(status->text().size() <= ended.size() + FailureReasons::ReasonLength);
        QCOMPARE(status->cursorPosition(), 0);
        for (const QString &reasons : {status->toolTip(), status->accessibleDescription()})
            QVERIFY2(reasons.startsWith(message + u", ladattu tiedosto"_s), qPrintable(reasons));
    }

    // A whole list failing for one cause: one reason, whichever address; the
    // list keeps the newest few hundred messages and says how many there were.
    void reasonsBounded()
    {
        FailureReasons reasons;
        for (int i = 0; i < 1000; ++i) {
            const QString address = u"http://portal/video/%1"_s.arg(i);
            reasons.add(u"ERROR: no stream found on the video page "_s + address
                            + u"\n, ladattu tiedosto säilytetty: /out/%1.flv"_s.arg(i),
                        address);
        }
        QCOMPARE(reasons.summary(), u"Yleisin syy (1000/1000): no stream found on the video page …"_s);
        const QStringList lines = reasons.list().split(u'\n');
        QCOMPARE(lines.size(), 1 + 2 * FailureReasons::KeptMessages);
        QVERIFY(lines.first().contains("1000"_L1));
        QVERIFY(lines.last().endsWith("/out/999.flv"_L1));
        // A flood of the fetcher's text loses its middle, never the file kept.
        reasons.add(u"ERROR: flood "_s + QString(5000, u'x') + u", ladattu tiedosto säilytetty: /out/flood.flv"_s, {});
        QVERIFY(reasons.list().endsWith(u"x…, ladattu tiedosto säilytetty: /out/flood.flv"_s));
    }

    void noFreeSlot()
    {
        Batch batch;
        batch.start(u"wait-ok-0-a;wait-ok-0-b;wait-ok-0-c;wait-ok-0-d;wait-ok-0-e;now-ok-0-f;now-ok-0-g"_s, 5);
        QCOMPARE(batch.status(), u"Ladataan tiedostoja..5/7"_s);
        QCOMPARE(batch.field(), u"now-ok-0-f;now-ok-0-g"_s);
        // All five slots busy: the address taken goes back to the front of the field.
        batch.window->StartProcessing();
        QCOMPARE(batch.field(), u"now-ok-0-f;now-ok-0-g"_s);
        batch.release({"a", "b", "c", "d", "e"});
        QCOMPARE(batch.ended(), allSaved);
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b.mp4", "c.mp4", "d.mp4", "e.mp4", "f.mp4", "g.mp4"}));
    }

    void windowEndsJobs()
    {
        auto batch = std::make_unique<Batch>();
        batch->work.setAutoRemove(false);
        const auto removeWork = qScopeGuard([root = batch->work.path()] { QDir(root).removeRecursively(); });
        batch->start(u"wait-ok-0-a"_s, 1);
        const QString staged = u"out/.lumora-partial/%1/a.flv"_s.arg(StagingFolder::key("wait-ok-0-a"));
        const QString fetched = batch->work.filePath(staged);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fetched), Patience);
        const QString fetcher = batch->process(u"a"_s);
        QVERIFY(QFile::exists(fetcher));
        batch.reset();
        QVERIFY2(!QFile::exists(fetcher), qPrintable(fetcher));
        // What was fetched so far stays, for the next try to resume.
        QVERIFY(QFile::exists(fetched));
    }

    void desktop_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("onBus");
        QTest::addColumn<QStringList>("notified");

        const QString failed = u"Valmis: 1/2 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: fake failure b"_s;
        QTest::newRow("unseen, all saved") << "wait-ok-0-b" << false << true << QStringList{allSaved};
        QTest::newRow("unseen, one failed") << "wait-fail-0-b" << false << true << QStringList{failed};
        QTest::newRow("active window") << "wait-ok-0-b" << true << true << QStringList();
        QTest::newRow("no bus") << "wait-ok-0-b" << false << false << QStringList();
    }
    // Notifications and the launcher entry, seen from a desktop on a private bus.
    void desktop()
    {
        QFETCH(QString, second);
        QFETCH(bool, active);
        QFETCH(bool, onBus);
        QFETCH(QStringList, notified);

        DesktopRecorder recorder;
        QVERIFY2(recorder.listen(busAddress), "the private bus refused the desktop's names");
        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"program"_s); });
        const QString noBus = u"unix:path="_s + QDir::temp().filePath(u"no-such-bus"_s);
        QDBusConnection program = QDBusConnection::connectToBus(onBus ? busAddress : noBus, u"program"_s);
        QCOMPARE(program.isConnected(), onBus);

        Batch batch;
        new DesktopIntegration(batch.window.get(), batch.window->findChild<QProgressBar *>(), program);
        if (active) {
            batch.window->show();
            batch.window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(batch.window.get()));
        }
        // Job a shows 50 %, then ends; job b ends last, and so the batch.
        batch.start(u"wait-ok-50-a;"_s + second, 2);
        QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), 22, Patience);
        batch.release({"a"});
        QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), 50, Patience);
        batch.release({"b"});
        QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
        QCOMPARE(batch.bar(), 100);

        // The entry is hidden after any notification has gone, and one sender's
        // messages arrive in order: once it is hidden, nothing more is coming.
        if (onBus)
            QTRY_VERIFY(!recorder.launcher.isEmpty() && !recorder.launcher.last().value(u"progress-visible"_s).toBool());
        QList<QStringList> expected;
        for (const QString &text : notified)
            expected << QStringList{LUMORA_APP_NAME, LUMORA_APP_ID, text, QString(), LUMORA_APP_ID};
        QCOMPARE(recorder.notifications, expected);

        QList<double> shown;
        for (const QVariantMap &update : std::as_const(recorder.launcher)) {
            QCOMPARE(update.value(u"uri"_s).toString(), QStringLiteral("application://" LUMORA_APP_ID ".desktop"));
            if (update.value(u"progress-visible"_s).toBool())
                shown << update.value(u"progress"_s).toDouble();
        }
        // a at 50 % of its fetch, then fetched, then saved; b fetched if it did not fail.
        QList<double> rising = {0.0, 0.22, 0.45, 0.5, 0.95, 1.0};
        if (second.contains("fail"_L1))
            rising.removeOne(0.95);
        QCOMPARE(shown, onBus ? rising : QList<double>());
        QCOMPARE(recorder.launcher.size(), onBus ? shown.size() + 1 : 0);
    }

    // The window closed mid-batch, and the program ended by SIGTERM or by SIGHUP
    // (a logout): a has been saved, b and c are at work, d to f wait.
    void listOutlivesWindow_data()
    {
        QTest::addColumn<int>("ending");
        QTest::newRow("window closed") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void listOutlivesWindow()
    {
        QFETCH(int, ending);
        const QStringList list{"now-ok-0-a", "wait-ok-0-b", "wait-ok-0-c", "now-ok-0-d", "now-ok-0-e", "now-ok-0-f"};
        Batch batch;
        QProcess program;
        if (ending == 0)
            batch.start(list.join(u';'), 2);
        else
            runApart(program, list, u"out"_s, 2);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(u"out/a.mp4"_s) && batch.started("b") && batch.started("c"), Patience);
        const QString fetcher = batch.process(u"b"_s);
        // A second copy started meanwhile keeps a journal of its own: the
        // running one's is not taken over.
        {
            const WindowDriver second(false);
            QCOMPARE(second.line("url")->text(), QString());
            QCOMPARE(second.status(), u"Valmiina lataamaan!"_s);
        }
        if (ending == 0) {
            batch.window.reset();
        } else {
            QVERIFY(signalRunning(program.processId(), ending));
            QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, Patience);
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        }
        // Its children are stopped, their partial files kept.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fetcher), Patience);
        QVERIFY(QFile::exists(u"out/.lumora-partial/%1/b.flv"_s.arg(StagingFolder::key("wait-ok-0-b"))));
        batch.release({"b", "c"});
        continueBatch(batch, list, u"out"_s);
        QCOMPARE(batch.runs("a"), 1);
        QVERIFY(QFile::exists(u"resumed-b"_s));
    }

    // The program killed at 20 random moments of a batch of six, each fetch slower than
    // the journal's wait before writing; five side by side, each with its own folders.
    void listOutlivesKills()
    {
        Batch batch;
        const auto restore = qScopeGuard([] {
            qunsetenv("SLOW");
            qputenv("XDG_STATE_HOME", QFile::encodeName(isolatedstate::folder()));
        });
        // The round's folder to save into, its state folder in use; slow while it is killed.
        const auto useRound = [&batch](int round, bool slow) {
            const QString state = batch.work.filePath(u"state-%1"_s.arg(round));
            QDir().mkpath(state);
            qputenv("XDG_STATE_HOME", QFile::encodeName(state));
            slow ? qputenv("SLOW", "1") : qunsetenv("SLOW");
            QDir().mkpath(batch.work.filePath(u"out-%1"_s.arg(round)));
            return batch.work.filePath(u"out-%1"_s.arg(round));
        };
        const QStringList list{"slow-ok-0-v1", "slow-ok-0-v2", "slow-ok-0-v3",
                               "slow-ok-0-v4", "slow-ok-0-v5", "slow-ok-0-v6"};
        constexpr int Rounds = 20;
        constexpr int AtOnce = 5;
        for (int first = 0; first < Rounds; first += AtOnce) {
            QProcess programs[AtOnce];
            for (int i = 0; i < AtOnce; ++i) {
                QProcess &program = programs[i];
                runApart(program, list, useRound(first + i, true), 1);
                // The kill comes at a random moment of the batch, which takes about 4 s.
                const int moment = int(QRandomGenerator::global()->bounded(4000));
                QObject::connect(&program, &QProcess::readyReadStandardOutput, &program, [&program, moment] {
                    if (program.canReadLine() && program.readLine().trimmed() == "started")
                        QTimer::singleShot(moment, &program, [&program] { signalRunning(program.processId(), SIGKILL); });
                });
            }
            for (QProcess &program : programs)
                QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, Patience);
            for (int round = first; round < first + AtOnce; ++round) {
                continueBatch(batch, list, useRound(round, false));
                QVERIFY2(!QTest::currentTestFailed(), qPrintable(u"round %1"_s.arg(round)));
            }
        }
    }

    // A journal that cannot be read is set aside and said once; the program
    // starts and downloads normally, and a link's target is left as it was.
    void brokenJournals_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("cut in the middle") << "cut";
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("100 MiB") << "large";
        QTest::newRow("a link to another file") << "link";
        QTest::newRow("another user's file") << "foreign";
    }
    void brokenJournals()
    {
        QFETCH(QString, damage);
        if (damage == "foreign"_L1 && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        Batch batch;
        batch.window.reset();
        const QByteArray journal = BatchJournal::format({u"out"_s, false, {"now-ok-0-x", "now-ok-0-y"}});
        const QString name = journalFolder() + u"/1234abcd.journal"_s;
        const QString elsewhere = batch.work.filePath(u"elsewhere.journal"_s);
        QVERIFY(writeFile(damage == "link"_L1 ? elsewhere : name,
                          damage == "cut"_L1       ? journal.left(journal.size() / 2)
                          : damage == "garbage"_L1 ? QByteArray("\x7f""ELF\x01garbage\n\0\n", 16)
                                                   : journal));
        if (damage == "large"_L1)
            QVERIFY(QFile::resize(name, 100 * 1024 * 1024));
        if (damage == "link"_L1)
            QVERIFY(QFile::link(elsewhere, name));
        if (damage == "foreign"_L1) {
            const passwd *nobody = ::getpwnam("nobody");
            QVERIFY(nobody && ::chown(QFile::encodeName(name).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        }
        batch.renew();
        QVERIFY2(batch.status().startsWith(setAside + name + u".unreadable-"_s), qPrintable(batch.status()));
        QVERIFY(QFileInfo::exists(batch.status().mid(setAside.size())));
        QVERIFY(!QFileInfo(name).exists() && !QFileInfo(name).isSymLink());
        QCOMPARE(batch.field(), QString());
        if (damage == "link"_L1)
            QCOMPARE(readFile(elsewhere), journal);
        batch.setUp(u"out"_s, 1, false);
        QCOMPARE(batch.run(u"now-ok-0-a"_s, 1), allSaved);
        batch.renew();
        QCOMPARE(batch.status(), u"Valmiina lataamaan!"_s);
    }

    // A list given again fetches only what is not in the folder as saved: episodes of a title
    // differ; a file deleted, renamed or changed, or not the program's, counts for nothing.
    void listGivenAgain()
    {
        Batch batch;
        const QString first = u"now-ok-0-a;now-ok-0-b;now-ok-1-t;now-ok-2-t"_s;
        QCOMPARE(batch.run(first, 2), allSaved);
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b.mp4", "t (2).mp4", "t.mp4"}));
        // Someone else's c.mp4, of the very size the program's would have.
        QVERIFY(writeFile(u"out/c.mp4"_s, "video c"));
        QCOMPARE(batch.run(first + u";now-ok-0-c"_s, 2), allSaved + u" (4 oli jo kansiossa)"_s);
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b.mp4", "c (2).mp4", "c.mp4", "t (2).mp4", "t.mp4"}));
        QVERIFY(batch.runs("a") == 1 && batch.runs("b") == 1 && batch.runs("t") == 2 && batch.runs("c") == 1);

        QVERIFY(QFile::remove(u"out/a.mp4"_s));
        QVERIFY(QFile::rename(u"out/b.mp4"_s, u"out/b-renamed.mp4"_s));
        QVERIFY(writeFile(u"out/t.mp4"_s, readFile(u"out/t.mp4"_s) + '!'));
        QCOMPARE(batch.run(first + u";now-ok-0-c"_s, 1), allSaved + u" (2 oli jo kansiossa)"_s);
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b-renamed.mp4", "b.mp4", "c (2).mp4", "c.mp4", "t (2).mp4",
                                            "t (3).mp4", "t.mp4"}));
        QVERIFY(batch.runs("a") == 2 && batch.runs("b") == 2 && batch.runs("t") == 3 && batch.runs("c") == 1);

        // A list longer than the field shows, given again with two new addresses:
        // the runs of saved ones between them are passed over at once.
        QStringList longList = numbered(u"now-ok-0-l%1"_s, 150);
        QCOMPARE(batch.run(longList.join(u';'), 5), allSaved);
        longList.insert(70, u"now-ok-0-n1"_s);
        longList << u"now-ok-0-n2"_s;
        QCOMPARE(batch.run(longList.join(u';'), 5), allSaved + u" (150 oli jo kansiossa)"_s);
        QCOMPARE(batch.field(), u"now-ok-0-n2"_s);
        QCOMPARE(batch.savedFiles().size(), 160);
        // Those passed over while the batch goes on count at once, in the text as on the bar.
        batch.start(u"wait-ok-0-y;now-ok-0-n2;now-ok-0-l0;wait-ok-0-z"_s, 1);
        batch.release({"y"});
        QTRY_VERIFY_WITH_TIMEOUT(batch.started(u"z"_s), Patience);
        QCOMPARE(batch.status(), u"Valmiina 3/4"_s);
        QCOMPARE(batch.bar(), 75);
        batch.release({"z"});
        QCOMPARE(batch.ended(), allSaved + u" (2 oli jo kansiossa)"_s);
        // A failure's message stays in view while those after it are passed over; at
        // the end these are among the saved, not among the returned.
        batch.start(u"now-fail-0-x;now-ok-0-n2;wait-ok-0-w"_s, 1);
        QTRY_VERIFY_WITH_TIMEOUT(batch.started(u"w"_s), Patience);
        QVERIFY2(batch.status().startsWith(u"ERROR: fake failure x"_s), qPrintable(batch.status()));
        batch.release({"w"});
        QCOMPARE(batch.ended(), u"Valmis: 2/3 tallennettu (1 oli jo kansiossa), "
                                "1 epäonnistui – 1 palautettu kenttään. Syy: fake failure x"_s);
        QVERIFY(batch.runs("l0") == 1 && batch.runs("l149") == 1 && batch.runs("n1") == 1 && batch.runs("n2") == 1);

        // A record grown long enough to be cut down as a video is recorded keeps that video.
        const QStringList records = QDir(journalFolder()).entryList({u"saved-*.list"_s});
        QCOMPARE(records.size(), 1);
        QVERIFY(writeFile(journalFolder() + u'/' + records[0], QByteArray(SavedVideos::SizeLimit / 2, 'x') + '\n'));
        QCOMPARE(batch.run(u"now-ok-0-k"_s, 1), allSaved);
        QCOMPARE(batch.run(u"now-ok-0-k"_s, 1), allSaved + u" (1 oli jo kansiossa)"_s);
        // The same folder however it is named.
        QVERIFY(QFile::link(u"out"_s, u"out-link"_s));
        for (const QString &same : {u"./out/"_s, u"out-link"_s, batch.work.filePath(u"out-link/"_s)}) {
            batch.setUp(same, 1, false);
            QCOMPARE(batch.run(u"now-ok-0-k"_s, 1), allSaved + u" (1 oli jo kansiossa)"_s);
        }
        QCOMPARE(batch.runs("k"), 1);
    }

    // A state folder on a full disk stops no video; the journal's failed writes
    // are said once, again only after one went well, and counted at the end.
    void journalOnFullDisk()
    {
        const SmallDisk disk(journalFolder(), 256 * 1024);
        if (!disk.mounted())
            QSKIP(SmallDisk::NoMount);
        Batch batch;
        const auto fill = [] {
            QFile filler(journalFolder() + u"/filler"_s);
            if (!filler.open(QIODevice::Append))
                return false;
            while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
            }
            return true;
        };
        QVERIFY(fill());
        const int failed = BatchJournal::writesFailed();
        batch.start(u"wait-ok-0-a;wait-ok-0-b;wait-ok-0-c"_s, 1);
        // The start's write and a's both fail: said once.
        batch.release({"a"});
        QTRY_VERIFY(BatchJournal::writesFailed() >= failed + 2);
        // Room again for the write of an added address; full again when b is saved: said again.
        QVERIFY(QFile::remove(journalFolder() + u"/filler"_s));
        const int made = BatchJournal::writesMade();
        batch.setField(batch.field() + u";wait-ok-0-d"_s);
        QTRY_VERIFY(BatchJournal::writesMade() > made);
        QVERIFY(fill());
        const int refilled = BatchJournal::writesFailed();
        batch.release({"b"});
        QTRY_VERIFY(BatchJournal::writesFailed() > refilled);
        const int beforeEnd = BatchJournal::writesFailed();
        batch.release({"c", "d"});
        QCOMPARE(batch.ended(), allSaved + u" (2 varoitusta, katso työkaluvihje)"_s);
        // The end's own write fails too, unsaid.
        QTRY_VERIFY(BatchJournal::writesFailed() > beforeEnd);
        QCoreApplication::processEvents();
        QCOMPARE(batch.status(), allSaved + u" (2 varoitusta, katso työkaluvihje)"_s);
        const QString warning = u"VAROITUS: keskeneräisen erän osoitteita ei voitu tallentaa tiedostoon "_s;
        QCOMPARE(batch.tip().count(warning + journalFolder() + u'/'), 2);
        QVERIFY2(batch.tip().contains(u".journal ("_s + QString::fromLocal8Bit(std::strerror(ENOSPC)) + u"); "_s),
                 qPrintable(batch.tip()));
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "b.mp4", "c.mp4", "d.mp4"}));
        // The next batch says it again.
        QCOMPARE(batch.run(u"now-ok-0-e"_s, 1), allSaved + u" (1 varoitus, katso työkaluvihje)"_s);
        // A state folder that cannot be written: each batch says that no journal can be
        // begun, and a list left there still comes back.
        batch.window.reset();
        for (const QString &name : QDir(journalFolder()).entryList(QDir::Files))
            QVERIFY(QFile::remove(journalFolder() + u'/' + name));
        const auto readOnly = [](bool only) { return mountaccess::remountTmpfs(journalFolder(), only ? u"ro"_s : u"rw"_s); };
        QVERIFY(readOnly(true));
        batch.renew();
        batch.setUp(u"out"_s, 1, false);
        QCOMPARE(batch.run(u"now-ok-0-f"_s, 1), allSaved + u" (1 varoitus, katso työkaluvihje)"_s);
        QVERIFY2(batch.tip().contains(journalFolder()), qPrintable(batch.tip()));
        batch.window.reset();
        const QByteArray left = BatchJournal::format({u"out"_s, false, {"now-ok-0-x"}});
        QVERIFY(readOnly(false) && writeFile(journalFolder() + u"/1234abcd.journal"_s, left)
                && writeFile(journalFolder() + u"/1234abcd.lock"_s) && readOnly(true));
        batch.renew();
        QVERIFY2(batch.status().startsWith(restored), qPrintable(batch.status()));
        QCOMPARE(batch.field(), u"now-ok-0-x"_s);
    }

    // Both readers take only what was written whole: a journal cut or changed at any byte
    // is refused; a record line cut or changed is skipped, an address's newest line wins.
    void recordFormats()
    {
        const BatchJournal::Contents contents{u"/home/ä ö/a\nb%20"_s, false, {"https://portal/video/1", "ä ö%", "x\ty"}};
        const QByteArray journal = BatchJournal::format(contents);
        const std::optional<BatchJournal::Contents> back = BatchJournal::parse(journal);
        QVERIFY(back && back->folder == contents.folder && !back->repair && back->addresses == contents.addresses);
        for (qsizetype at = 0; at < journal.size(); ++at) {
            QByteArray changed = journal;
            changed[at] = char(changed[at] ^ 0x01);
            QVERIFY2(!BatchJournal::parse(journal.left(at)) && !BatchJournal::parse(changed),
                     qPrintable(QString::number(at)));
        }

        const SavedVideos::Entry old{u"https://portal/video/1"_s, u"Uutiset.mp4"_s, 10, 1};
        const SavedVideos::Entry newer{old.address, u"Uutiset (2).mp4"_s, 20, 2};
        const SavedVideos::Entry other{u"https://portal/video/2"_s, u"Sää ja ilmasto.mp4"_s, 30, 3};
        QByteArray tampered = SavedVideos::formatLine(other);
        tampered.replace(" 30 ", " 31 ");
        const QByteArray record = SavedVideos::formatLine(old) + '\n' + tampered + '\n' + SavedVideos::formatLine(newer)
                                  + "\ngarbage\n" + SavedVideos::formatLine(other).chopped(1);
        const QHash<QString, SavedVideos::Entry> entries = SavedVideos::parse(record);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.value(old.address).name, newer.name);
        QCOMPARE(entries.value(old.address).size, 20);
        QVERIFY(!SavedVideos::parseLine(SavedVideos::formatLine({old.address, u"../x.mp4"_s, 1, 1})));
    }

    // Each journal is written to a new file, flushed, renamed over the old one,
    // and then its folder is flushed.
    void journalWriteOrder()
    {
        Batch batch;
        QProcess strace;
        strace.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The leak check stops the world through ptrace, which a traced program cannot.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"ASAN_OPTIONS"_s, environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        strace.setProcessEnvironment(environment);
        const QStringList options{"-f", "-y", "-qq", "-o", "trace", "-e",
                                  "trace=openat,write,fsync,fdatasync,rename,renameat,renameat2", LUMORA_BATCHRUN};
        strace.start(u"strace"_s, options + batchRun({"now-ok-0-a", "now-fail-0-b", "now-ok-0-c"}, u"out"_s, 1));
        QVERIFY2(strace.waitForFinished(Patience) && strace.exitCode() == 0,
                 "strace failed: not installed, or the program failed under it");
        QCOMPARE(batch.savedFiles(), QStringList({"a.mp4", "c.mp4"}));
        // Per thread, the steps on journal files and the state folder, in order.
        static const QRegularExpression step(uR"(^(\d+) +(\w+)\((?:\d+<([^>]*)>)?)"_s);
        QHash<QString, QString> steps;
        for (const QByteArray &line : readFile(u"trace"_s).split('\n')) {
            const QRegularExpressionMatch match = step.match(QString::fromUtf8(line));
            const QString call = match.captured(2);
            const QString path = match.captured(3);
            QString &thread = steps[match.captured(1)];
            if (call.startsWith("rename"_L1) && line.contains(".journal.new\""))
                thread += u"rename,"_s;
            else if ((call == "write"_L1 || call == "fsync"_L1) && path.endsWith(".journal.new"_L1))
                thread += call + u" new,"_s;
            else if (call == "fsync"_L1 && path == journalFolder())
                thread += u"fsync folder,"_s;
        }
        // The record of saved videos flushes the folder too when it makes its file.
        static const QRegularExpression wholeWrites(
            u"^(fsync folder,)*((write new,)+fsync new,rename,fsync folder,(fsync folder,)*)*$"_s);
        int renames = 0;
        for (const QString &thread : std::as_const(steps)) {
            QVERIFY2(wholeWrites.match(thread).hasMatch(), qPrintable(thread));
            renames += int(thread.count(u"rename,"_s));
        }
        // At the start, after a, and at the end with the failed b.
        QVERIFY2(renames >= 2, qPrintable(QString::number(renames)));
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"

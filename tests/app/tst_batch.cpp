#include "app/batchprogress.h"
#include "app/batchjournal.h"
#include "app/batchqueue.h"
#include "app/desktopintegration.h"
#include "app/failurereasons.h"
#include "app/mainwindow.h"
#include "app/savedvideos.h"
#include "app/statefolder.h"
#include "download/stagingfolder.h"
#include "external/buildconfig.h"
#include "external/externalprograms.h"
#include "fakeprograms.h"
#include "isolatedstate.h"
#include "leftovers.h"
#include "longticks.h"
#include "mountedfilesystem.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int Patience = 30000;

// The window over a fresh working folder whose "out" takes the videos, the
// fetcher scripted by address (see FakePrograms::Fetcher::ByAddress) so that
// the test decides when and how each job ends, and no repair of the MP4.
class Batch : public WindowDriver
{
public:
    explicit Batch(bool onScreen = false) : WindowDriver(onScreen)
    {
        QDir::setCurrent(work.path());
        qputenv("WORK", QFile::encodeName(work.path()));
        QDir(work.path()).mkdir(QStringLiteral("out"));
        fakes.addFetcher(FakePrograms::Fetcher::ByAddress);
        setUp(QStringLiteral("out"), 1, false);
    }
    ~Batch()
    {
        // The window goes first, while the folder it works in is still there.
        window.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    // The addresses with that many downloads at once, into the folder the field holds.
    void start(const QString &addresses, int threads)
    {
        line("url")->setText(addresses);
        window->findChild<QComboBox *>(QStringLiteral("threadcount"))->setCurrentIndex(threads - 1);
        button()->click();
    }
    QPushButton *button() const { return WindowDriver::button("pushButton"); }

    QTemporaryDir work;
    FakePrograms fakes;
};

void release(const QString &id)
{
    writeFile(QStringLiteral("release-") + id);
}

bool started(const QString &id)
{
    return QFile::exists(QStringLiteral("started-") + id);
}

int runs(const QString &id)
{
    return int(readFile(QStringLiteral("started-") + id).count('\n'));
}

QStringList savedFiles()
{
    return QDir(QStringLiteral("out")).entryList(QDir::Files, QDir::Name);
}

const QString allSaved = QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!");
const QString restored = QStringLiteral("Edellinen erä jäi kesken: ");
const QString setAside = QStringLiteral("Edellisen erän luetteloa ei voitu lukea: se on siirretty nimelle ");

QString journalFolder()
{
    return isolatedstate::folder() + u'/' + QLatin1String(StateFolder::ProgramFolder);
}

// The program's batch run in a process of its own, in the test's folder.
void runApart(QProcess &program, const QStringList &addresses, const QString &folder, int threads)
{
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(LUMORA_BATCHRUN),
                  {addresses.join(u';'), folder, QString::number(threads), QStringLiteral("copy")});
}

bool saidStarted(QProcess &program)
{
    return program.canReadLine() && program.readLine().trimmed() == "started";
}

// A new window holds the addresses of `list` whose video is not in `out`, in
// order, and at most one more whose video was being placed, with the batch's
// folder. Nothing starts by itself; one press saves each video exactly once.
void continueBatch(Batch &batch, const QStringList &list, const QString &out)
{
    batch.renew();
    const QStringList field = batch.line("url")->text().split(u';', Qt::SkipEmptyParts);
    QStringList expected;
    int extra = 0;
    for (const QString &address : list) {
        const bool saved = QFile::exists(out + u'/' + address.section(u'-', 3) + QStringLiteral(".mp4"));
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
    QCOMPARE(batch.line("outputfile")->text(), out);
    QVERIFY2(batch.status().startsWith(restored + QString::number(expected.size())), qPrintable(batch.status()));
    QCOMPARE(batch.line("statusbar")->cursorPosition(), 0);
    batch.button()->click();
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    QVERIFY2(batch.status().startsWith(allSaved), qPrintable(batch.status()));
    QStringList whole;
    for (const QString &address : list)
        whole << address.section(u'-', 3) + QStringLiteral(".mp4");
    whole.sort();
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), whole);
    for (const QString &name : whole) {
        QFile video(out + u'/' + name);
        QVERIFY(video.open(QIODevice::ReadOnly));
        QCOMPARE(video.readAll(), QByteArray("video ") + QFileInfo(name).baseName().toUtf8());
    }
}

// A session bus of the test's own, so that nothing reaches the desktop of
// whoever runs the tests.
class PrivateBus
{
public:
    PrivateBus()
    {
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromLatin1(daemon.readLine().trimmed());
    }
    ~PrivateBus()
    {
        daemon.terminate();
        daemon.waitForFinished();
    }

    QProcess daemon;
    QString address;
};

} // namespace

// Stands in for the desktop: the notification service, and a dock listening
// to the launcher entry signal.
class DesktopRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QStringList> notifications;
    QList<QVariantMap> launcher;

public slots:
    Q_SCRIPTABLE uint Notify(const QString &appName, uint, const QString &icon, const QString &summary,
                             const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        notifications << QStringList{appName, icon, summary, body,
                                     hints.value(QStringLiteral("desktop-entry")).toString()};
        return uint(notifications.size());
    }
    void launcherUpdate(const QString &uri, QVariantMap properties)
    {
        properties.insert(QStringLiteral("uri"), uri);
        launcher << properties;
    }
};

class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void counting_data();
    void counting();
    void queue();
    void queueEditedMidBatch();
    void longQueue();
    void typingMidBatch();
    void oneLine_data();
    void oneLine();
    void pastedLists_data();
    void pastedLists();
    void failedComeBack();
    void batchEnd_data();
    void batchEnd();
    void savedWithWarning();
    void progress_data();
    void progress();
    void barArithmetic_data();
    void barArithmetic();
    void barFollowsSaved();
    void barDuringConversion();
    void reasonsInView();
    void reasonsBounded();
    void noFreeSlot();
    void windowEndsJobs();
    void desktop_data();
    void desktop();
    void listOutlivesWindow_data();
    void listOutlivesWindow();
    void listOutlivesKills();
    void brokenJournals_data();
    void brokenJournals();
    void listGivenAgain();
    void recordFormats();
    void journalWriteOrder();

private:
    PrivateBus bus;
};

void TestBatch::initTestCase()
{
    QVERIFY2(!bus.address.isEmpty(), qPrintable(bus.daemon.errorString()));
}

void TestBatch::init()
{
    isolatedstate::clear();
}

// The batch's counting without a window. Steps: "take" the front address,
// "edit:TEXT" the field, a job ends "ok" or "fail".
void TestBatch::counting_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("totals"); // after each step
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("retry"); // the field that retryField() gives at the end

    QTest::newRow("left alone") << "a;b;c" << QStringList{"take", "take", "ok", "take", "ok", "ok"}
                                << QList<int>{3, 3, 3, 3, 3, 3} << true << "c";
    QTest::newRow("added while addresses wait")
        << "a;b" << QStringList{"take", "edit:b;c;d", "ok", "take", "ok", "take", "ok", "take", "ok"}
        << QList<int>{2, 4, 4, 4, 4, 4, 4, 4, 4} << true << "d";
    QTest::newRow("added after the last was taken") << "a" << QStringList{"take", "edit:a;b", "ok"}
                                                    << QList<int>{1, 1, 1} << true << "a;b";
    QTest::newRow("waiting ones removed") << "a;b;c" << QStringList{"take", "edit:", "ok"}
                                          << QList<int>{3, 1, 1} << true << "";
    QTest::newRow("one removed, more added")
        << "a;b;c" << QStringList{"take", "edit:c", "edit:c;d;e", "fail"} << QList<int>{3, 2, 4, 4} << false
        << "a;c;d;e";
    QTest::newRow("field emptied after a job ended")
        << "a;b;c" << QStringList{"take", "ok", "edit: ", "take"} << QList<int>{3, 3, 1, 1} << true << " ";
    QTest::newRow("failed last one, an address typed in front of it")
        << "a;b" << QStringList{"take", "take", "ok", "edit:c;b", "fail"} << QList<int>{2, 2, 2, 2, 2} << true
        << "b;c";
    QTest::newRow("last one lengthened after its take")
        << "a;b" << QStringList{"take", "take", "fail", "edit:b2", "ok"} << QList<int>{2, 2, 2, 2, 2} << true
        << "a;b2";
    QTest::newRow("empty and blank pieces are no addresses")
        << "a;; ;b;" << QStringList{"take", "take", "ok", "fail"} << QList<int>{2, 2, 2, 2} << true << "b";
}

void TestBatch::counting()
{
    QFETCH(QString, field);
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, totals);

    BatchQueue queue;
    queue.begin(field);
    QList<int> atWork; // tickets, the oldest first
    for (int i = 0; i < steps.size(); ++i) {
        const QString &step = steps[i];
        if (step == QLatin1String("take") && queue.waiting()) {
            // As the window does, passing empty pieces over.
            BatchQueue::Taken taken;
            do {
                taken = queue.take(field);
                field = taken.field;
            } while (taken.address.isEmpty() && queue.waiting());
            QVERIFY(!taken.address.isEmpty());
            atWork << taken.ticket;
        } else if (step.startsWith(QLatin1String("edit:"))) {
            queue.fieldEdited(field = step.mid(5));
        } else if (step == QLatin1String("ok") || step == QLatin1String("fail")) {
            queue.jobEnded(atWork.takeFirst(), step == QLatin1String("fail"));
        }
        QCOMPARE(queue.total(), totals[i]);
        QVERIFY(queue.done() <= queue.total());
    }
    QTEST(queue.finished(), "finished");
    QTEST(queue.retryField(field), "retry");
}

void TestBatch::queue()
{
    Batch batch;
    // A press without an address starts nothing and says why.
    for (const QString field : {"", " ; ;"}) {
        batch.start(field, 2);
        QCOMPARE(batch.status(), QStringLiteral("Ei osoitteita: liitä videoiden osoitteet kenttään"));
        QVERIFY(batch.controlsEnabled());
        QCOMPARE(batch.bar(), 0);
    }
    batch.start(QStringLiteral("wait-ok-0-a;wait-ok-0-b;wait-ok-0-c"), 2);
    QCOMPARE(batch.line("url")->text(), QStringLiteral("wait-ok-0-c"));
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..2/3"));
    QVERIFY(!batch.button()->isEnabled());
    QVERIFY(!batch.line("outputfile")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(started("a") && started("b"), Patience);
    QVERIFY(!started("c"));

    release(QStringLiteral("a"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), QStringLiteral("Valmiina 1/3"), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(started("c"), Patience);
    QVERIFY(!batch.controlsEnabled());

    release(QStringLiteral("b"));
    release(QStringLiteral("c"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    QCOMPARE(batch.bar(), 100);
    QVERIFY(batch.controlsEnabled());
    QCOMPARE(batch.line("url")->text(), QStringLiteral("wait-ok-0-c"));
    QCOMPARE(readFile(QStringLiteral("out/c.mp4")), QByteArray("video c"));
}

// Addresses added while others wait join the batch and its count; waiting
// ones removed leave it; the next batch starts from nothing.
void TestBatch::queueEditedMidBatch()
{
    Batch batch;
    batch.start(QStringLiteral("wait-ok-0-a;wait-ok-0-b;wait-ok-0-c"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(started("a"), Patience);
    batch.line("url")->setText(batch.line("url")->text() + QStringLiteral(";wait-ok-0-d"));
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..1/4"));
    release(QStringLiteral("a"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), QStringLiteral("Valmiina 1/4"), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(started("b"), Patience);

    // c leaves the queue; d stays and is the last.
    batch.line("url")->setText(QStringLiteral("wait-ok-0-d"));
    release(QStringLiteral("b"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), QStringLiteral("Valmiina 2/3"), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(started("d"), Patience);
    QVERIFY(!batch.controlsEnabled());
    // The queue has run out: what is added now waits for the next batch.
    batch.line("url")->setText(QStringLiteral("wait-ok-0-d;wait-ok-0-e"));
    release(QStringLiteral("d"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    QVERIFY(batch.controlsEnabled());
    QVERIFY(!started("c") && !started("e"));

    // The next batch counts afresh, and its d, in the folder already, is not fetched again.
    batch.start(QStringLiteral("wait-ok-0-e;wait-ok-0-d;wait-ok-0-f"), 1);
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..1/3"));
    batch.line("url")->setText(QStringLiteral("wait-ok-0-d"));
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..1/2"));
    release(QStringLiteral("e"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved + QStringLiteral(" (1 oli jo kansiossa)"), Patience);
    QCOMPARE(batch.bar(), 100);
    QVERIFY(batch.controlsEnabled());
    QCOMPARE(savedFiles(), QStringList({"a.mp4", "b.mp4", "d.mp4", "e.mp4"}));
    QVERIFY(runs("d") == 1 && !started("f"));
}

// A list longer than the field shows: the field holds its front, the rest
// waits behind it. Takes go on in list order, and what the user empties or
// pastes changes only what the field shows.
void TestBatch::longQueue()
{
    QStringList list;
    for (int i = 0; i < 400; ++i)
        list << QStringLiteral("http://portal.example/video/%1").arg(i);
    QStringList expected = list;
    BatchQueue queue;
    QString field = list.join(u';');
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
    QStringList more;
    for (int i = 0; i < 100; ++i)
        more << QStringLiteral("http://portal.example/video/more%1").arg(i);
    const qsizetype at = expected.indexOf(field.section(u';', -1)) + 1;
    field += u';' + more.join(u';');
    queue.fieldEdited(field);
    for (qsizetype i = 0; i < more.size(); ++i)
        expected.insert(at + i, more[i]);
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

// The user types an address at the field's end, its last characters
// selected to be typed over, while a take brings waiting addresses into view
// behind it: the selection stays, what they type stays one address, and the
// addresses that came into view stay whole.
void TestBatch::typingMidBatch()
{
    QStringList list;
    for (int i = 0; i < 100; ++i)
        list << QStringLiteral("wait-ok-0-%1-of-a-list-longer-than-the-field-shows").arg(i);
    Batch batch;
    batch.start(list.join(u';'), 1);
    QLineEdit *url = batch.line("url");
    QVERIFY(url->text().size() <= BatchQueue::ShownLength);
    url->end(false);
    QTest::keyClicks(url, QStringLiteral(";now-ok-0-"));
    url->cursorBackward(true, 3);
    release(list[0].section(u'-', 3));
    QTRY_VERIFY_WITH_TIMEOUT(started(list[1].section(u'-', 3)), Patience);
    QCOMPARE(url->selectedText(), QStringLiteral("-0-"));
    QTest::keyClicks(url, QStringLiteral("-0-typed"));
    QStringList shown = url->text().split(u';');
    QVERIFY2(shown.removeOne(QStringLiteral("now-ok-0-typed")), qPrintable(url->text()));
    QVERIFY(shown.size() > 1);
    QCOMPARE(shown, list.mid(2, shown.size()));
}

void TestBatch::oneLine_data()
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

void TestBatch::oneLine()
{
    QFETCH(QString, pasted);
    QTEST(addressesOnOneLine(pasted), "field");
}

void TestBatch::pastedLists_data()
{
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("shown"); // in the field before the press, or behind its front
    QTest::addColumn<QStringList>("saved");

    QStringList thousand;
    QStringList thousandSaved;
    // As long as portal addresses, so that the list runs past the 32,767
    // characters that a line edit holds by default.
    for (int i = 0; i < 1000; ++i) {
        const QString id = QStringLiteral("video-%1-of-a-list-as-long-as-one-of-the-portal").arg(i);
        thousand << QStringLiteral("now-ok-0-") + id;
        thousandSaved << id + QStringLiteral(".mp4");
    }
    thousandSaved.sort();
    QTest::newRow("1,000 addresses") << thousand.join(u';') << thousand.join(u';') << thousandSaved;
    QTest::newRow("one a line, CRLF, a blank line")
        << "now-ok-0-a\r\nnow-ok-0-b\r\n\r\nnow-ok-0-c\r\n" << "now-ok-0-a;now-ok-0-b;now-ok-0-c"
        << QStringList{"a.mp4", "b.mp4", "c.mp4"};
    QTest::newRow("one a line, LF and CR") << "\nnow-ok-0-a\nnow-ok-0-b\rnow-ok-0-c\n"
                                           << "now-ok-0-a;now-ok-0-b;now-ok-0-c"
                                           << QStringList{"a.mp4", "b.mp4", "c.mp4"};
}

// Whatever the list's length and shape, each address is counted, saved, and
// nothing else is started.
void TestBatch::pastedLists()
{
    QFETCH(QString, pasted);
    QFETCH(QStringList, saved);

    Batch batch;
    batch.paste(pasted);
    // A long list shows its front at once, so that typing beside it is quick;
    // the tool tip counts the rest.
    static const QRegularExpression number(QStringLiteral("\\d+"));
    const QString front = batch.line("url")->text();
    QFETCH(QString, shown);
    QVERIFY(front.size() <= BatchQueue::ShownLength);
    QVERIFY(shown.startsWith(front) && (shown.size() == front.size() || shown.at(front.size()) == u';'));
    QCOMPARE(int(front.count(u';')) + 1 + number.match(batch.line("url")->toolTip()).captured().toInt(),
             int(saved.size()));
    batch.window->findChild<QComboBox *>()->setCurrentIndex(4);
    batch.button()->click();
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..5/%1").arg(saved.size()));
    // The field shows the front of what waits, its tool tip counts the rest.
    const QString taking = batch.line("url")->text();
    QVERIFY(taking.size() <= BatchQueue::ShownLength);
    const int behind = number.match(batch.line("url")->toolTip()).captured().toInt();
    QCOMPARE(int(taking.count(u';')) + 1 + behind, qMax(1, int(saved.size()) - 5));
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), 20 * Patience);
    QCOMPARE(batch.status(), allSaved);
    QCOMPARE(savedFiles(), saved);
    QCOMPARE(QDir().entryList({QStringLiteral("started-*")}, QDir::Files).size(), saved.size());
}

// Two of five fail, in another order than they started: the field then holds
// them in start order, then what the user added meanwhile; one press tries
// exactly those, and a failed one goes on from the file it kept.
void TestBatch::failedComeBack()
{
    Batch batch;
    batch.start(QStringLiteral("now-ok-0-a;wait-flaky-0-b;now-ok-0-c;now-dies-0-d;now-ok-0-e"), 5);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("out/e.mp4"))
                                 && batch.line("statusbar")->toolTip().contains(QLatin1String("SIGKILL")),
                             Patience);
    batch.line("url")->setText(batch.line("url")->text() + QStringLiteral(";now-ok-0-f"));
    release(QStringLiteral("b"));
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    // d was killed first; b's failure is the other reason.
    QVERIFY2(batch.status().startsWith(QStringLiteral("Valmis: 3/5 tallennettu, 2 epäonnistui – 2 palautettu kenttään. "
                                                      "Yleisin syy (1/2): lataus keskeytyi")),
             qPrintable(batch.status()));
    QCOMPARE(batch.line("url")->text(), QStringLiteral("wait-flaky-0-b;now-dies-0-d;now-ok-0-f"));

    batch.button()->click();
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..5/3"));
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    QCOMPARE(batch.status(), allSaved);
    QCOMPARE(batch.line("url")->text(), QStringLiteral("now-ok-0-f"));
    QCOMPARE(savedFiles(), QStringList({"a.mp4", "b.mp4", "c.mp4", "d.mp4", "e.mp4", "f.mp4"}));
    for (const QString id : {"a", "c", "e", "f"})
        QCOMPARE(runs(id), 1);
    for (const QString id : {"b", "d"}) {
        QCOMPARE(runs(id), 2);
        QVERIFY(QFile::exists(QStringLiteral("resumed-") + id));
    }
}

void TestBatch::batchEnd_data()
{
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<int>("threads");
    QTest::addColumn<QString>("endText");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<QString>("field"); // after the batch

    QTest::newRow("all saved") << "now-ok-0-a;now-ok-0-b" << 2 << allSaved << QStringList()
                               << QStringList{"a.mp4", "b.mp4"} << "now-ok-0-b";
    QTest::newRow("one failed") << "now-ok-0-a;now-fail-0-b;now-ok-0-c" << 2
                                << "Valmis: 2/3 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: fake failure b"
                                << QStringList{"ERROR: fake failure b"} << QStringList{".lumora-partial", "a.mp4", "c.mp4"}
                                << "now-fail-0-b";
    QTest::newRow("all failed") << "now-fail-0-a;now-fail-0-b;now-fail-0-c" << 1
                                << "Valmis: 0/3 tallennettu, 3 epäonnistui – 3 palautettu kenttään. Yleisin syy (1/3): fake failure a"
                                << QStringList{"ERROR: fake failure a", "ERROR: fake failure b",
                                               "ERROR: fake failure c"}
                                << QStringList{".lumora-partial"} << "now-fail-0-a;now-fail-0-b;now-fail-0-c";
    QTest::newRow("blanks around addresses") << " now-ok-0-a ;\tnow-ok-0-b  " << 2 << allSaved << QStringList()
                                             << QStringList{"a.mp4", "b.mp4"} << "\tnow-ok-0-b  ";
    QTest::newRow("most common reason") << "now-fail-0-a;now-fail-0-b;now-fail-0-a" << 1
                                        << "Valmis: 0/3 tallennettu, 3 epäonnistui – 3 palautettu kenttään. Yleisin syy (2/3): fake failure a"
                                        << QStringList{"ERROR: fake failure a", "ERROR: fake failure a",
                                                       "ERROR: fake failure b"}
                                        << QStringList{".lumora-partial"} << "now-fail-0-a;now-fail-0-b;now-fail-0-a";
    // Empty pieces, as lines ending in ";" leave, are no addresses.
    QTest::newRow("empty pieces") << "now-ok-0-a;;now-ok-0-b;" << 1 << allSaved << QStringList()
                                  << QStringList{"a.mp4", "b.mp4"} << "";
    // Two jobs of one address at once: a staging folder and a file for each.
    QTest::newRow("same address twice at once") << "wait-ok-0-a;wait-ok-0-a" << 2 << allSaved << QStringList()
                                                << QStringList{"a (2).mp4", "a.mp4"} << "wait-ok-0-a";
}

void TestBatch::batchEnd()
{
    QFETCH(QString, addresses);
    QFETCH(int, threads);
    QFETCH(QString, endText);
    QFETCH(QStringList, errors);

    // No tick is needed for a batch to run to its end.
    const LongTicks noTicks;
    Batch batch;
    const QDir work(batch.work.path());
    batch.start(addresses, threads);
    if (addresses.startsWith(QLatin1String("wait"))) {
        QTRY_VERIFY_WITH_TIMEOUT(QDir(QStringLiteral("out/.lumora-partial")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 2, Patience);
        release(QStringLiteral("a"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    QCOMPARE(batch.status(), endText);
    QTEST(QDir(QStringLiteral("out")).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot,
                                                QDir::Name),
          "saved");
    QCOMPARE(batch.bar(), 100);
    QTEST(batch.line("url")->text(), "field");
    // The error messages outlive the texts that replaced them, for the mouse
    // and for a screen reader; a failed fetcher's message names the partial
    // file it left.
    QCOMPARE(batch.line("statusbar")->accessibleDescription(), batch.line("statusbar")->toolTip());
    QStringList kept = batch.line("statusbar")->toolTip().split(u'\n', Qt::SkipEmptyParts);
    kept.sort();
    QCOMPARE(kept.size(), errors.size());
    for (int i = 0; i < errors.size(); ++i) {
        QVERIFY2(kept[i].startsWith(errors[i]), qPrintable(kept[i]));
        if (kept[i].startsWith(QLatin1String("ERROR: fake")))
            QVERIFY2(kept[i].contains(QStringLiteral("säilytetty: ") + work.filePath("out/.lumora-partial/")),
                     qPrintable(kept[i]));
    }
}

// A disk that fails the folder's flush after the rename: the video is saved
// under its name, so it counts as saved, and the warning stays in the tool tip.
void TestBatch::savedWithWarning()
{
    const MountedFileSystem disk(QStringLiteral("fsyncdir"));
    if (!disk.problem.isEmpty())
        QSKIP(qPrintable(disk.problem));
    Batch batch;
    batch.line("outputfile")->setText(disk.path);
    batch.start(QStringLiteral("now-ok-0-a"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    QCOMPARE(batch.status(), allSaved + QStringLiteral(" (1 varoitus, katso työkaluvihje)"));
    QVERIFY2(batch.line("statusbar")->toolTip().startsWith(QStringLiteral("VAROITUS: video tallennettiin nimellä ")
                                                             + disk.path + QStringLiteral("/a.mp4")),
             qPrintable(batch.line("statusbar")->toolTip()));
    QCOMPARE(QDir(disk.path).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("a.mp4")});
}

void TestBatch::progress_data()
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
    QStringList done, waiting;
    for (int i = 0; i < 150; ++i)
        done << QStringLiteral("now-ok-0-n%1").arg(i);
    for (int i = 0; i < 50; ++i) {
        waiting << QStringLiteral("w%1").arg(i);
        done << QStringLiteral("wait-ok-%1-w%2").arg(i == 0 ? 60 : 0).arg(i);
    }
    QTest::newRow("two hundred, 150 done, one at 60 %") << done.join(u';') << waiting << 75;
}

void TestBatch::progress()
{
    QFETCH(QString, addresses);
    QFETCH(QStringList, waiting);

    Batch batch;
    batch.start(addresses, 5);
    QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), [] { QFETCH(int, bar); return bar; }(), Patience);
    for (const QString &id : waiting)
        release(id);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
}

void TestBatch::barArithmetic_data()
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

void TestBatch::barArithmetic()
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
void TestBatch::barFollowsSaved()
{
    QStringList list;
    for (int i = 0; i < 60; ++i)
        list << QStringLiteral("now-ok-0-v%1").arg(i);
    Batch batch;
    int farthest = 0;
    QList<int> shown;
    QObject::connect(batch.window->findChild<QProgressBar *>(), &QProgressBar::valueChanged, batch.window.get(),
                     [&](int value) {
                         const int saved = int(savedFiles().size());
                         shown << value;
                         farthest = qMax(farthest, qAbs(value - saved * 100 / 60));
                         QVERIFY(value < 100 || saved == 60);
                     });
    batch.start(list.join(u';'), 2);
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), 4 * Patience);
    QCOMPARE(savedFiles().size(), 60);
    QVERIFY2(farthest <= 4, qPrintable(QStringLiteral("%1 points apart").arg(farthest)));
    QVERIFY(std::is_sorted(shown.begin(), shown.end()));
    QCOMPARE(shown.last(), 100);
}

// With repair on, the conversion moves the bar past the fetch's share; it
// stays below 100 until the video is saved. The scripted converter writes
// its clock as ffmpeg 5.1 does, as slowly as the test lets it.
void TestBatch::barDuringConversion()
{
    Batch batch;
    batch.fakes.addScript(QStringLiteral("ffmpeg"), R"(
printf '  Duration: 00:00:10.00, start: 0.000000, bitrate: 300 kb/s\n' >&2
for t in 01 03 05 07 09; do
    printf 'frame=   25 fps=0.0 q=-1.0 size=       0kB time=00:00:%s.00 bitrate= 0.4kbits/s speed=1x    \r' $t >&2
    for ((i = 0; i < 5000; ++i)); do [ -e "$WORK/release-$t" ] && break; sleep 0.02; done
done
printf 'not an mp4' > "${@: -1}"
)");
    batch.window->findChild<QCheckBox *>()->setChecked(true);
    batch.start(QStringLiteral("now-ok-100-c"), 1);
    QList<int> seen;
    for (const QString t : {"01", "03", "05", "07"}) {
        QTRY_VERIFY2_WITH_TIMEOUT(batch.bar() > (seen.isEmpty() ? 90 : seen.last()),
                                  qPrintable(QStringLiteral("%1 %2").arg(batch.bar()).arg(batch.status())), Patience);
        seen << batch.bar();
        QVERIFY2(seen.last() < 100, qPrintable(QString::number(seen.last())));
        release(t);
    }
    QCOMPARE(seen, QList<int>({91, 93, 95, 97}));
    release(QStringLiteral("09"));
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
}

// A message longer than the status line shows its start; one failure's
// reason is read in the end text, the whole message in the tool tip and in
// the description a screen reader reads.
void TestBatch::reasonsInView()
{
    const QString id = QStringLiteral("long").repeated(30);
    Batch batch;
    batch.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(batch.window.get()));
    QLineEdit *status = batch.line("statusbar");
    batch.start(QStringLiteral("now-fail-0-") + id + QStringLiteral(";wait-ok-0-b"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(started(QStringLiteral("b")), Patience);
    QVERIFY2(status->text().startsWith(QStringLiteral("ERROR: fake failure ") + id), qPrintable(status->text()));
    QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) > status->width());
    QCOMPARE(status->cursorPosition(), 0);
    QVERIFY(status->toolTip().startsWith(QStringLiteral("ERROR: fake failure ") + id));

    release(QStringLiteral("b"));
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    const QString ended = QStringLiteral("Valmis: 1/2 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: fake failure ");
    QVERIFY2(status->text().startsWith(ended + id.left(20)), qPrintable(status->text()));
    QVERIFY(status->text().size() <= ended.size() + FailureReasons::ReasonLength);
    QCOMPARE(status->cursorPosition(), 0);
    for (const QString &reasons : {status->toolTip(), status->accessibleDescription()})
        QVERIFY2(reasons.startsWith(QStringLiteral("ERROR: fake failure ") + id + QStringLiteral(", ladattu tiedosto")),
                 qPrintable(reasons));
}

// A whole list failing for one cause: one reason, whichever address; the
// list keeps the newest few hundred messages and says how many there were.
void TestBatch::reasonsBounded()
{
    FailureReasons reasons;
    for (int i = 0; i < 1000; ++i) {
        const QString address = QStringLiteral("http://portal/video/%1").arg(i);
        reasons.add(QStringLiteral("ERROR: no stream found on the video page ") + address
                        + QStringLiteral("\n, ladattu tiedosto säilytetty: /out/%1.flv").arg(i),
                    address);
    }
    QCOMPARE(reasons.summary(), QStringLiteral("Yleisin syy (1000/1000): no stream found on the video page …"));
    const QStringList lines = reasons.list().split(u'\n');
    QCOMPARE(lines.size(), 1 + 2 * FailureReasons::KeptMessages);
    QVERIFY(lines.first().contains(QLatin1String("1000")));
    QVERIFY(lines.last().endsWith(QLatin1String("/out/999.flv")));
}

void TestBatch::noFreeSlot()
{
    Batch batch;
    batch.start(QStringLiteral("wait-ok-0-a;wait-ok-0-b;wait-ok-0-c;wait-ok-0-d;wait-ok-0-e;now-ok-0-f;now-ok-0-g"), 5);
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..5/7"));
    QCOMPARE(batch.line("url")->text(), QStringLiteral("now-ok-0-f;now-ok-0-g"));

    // All five slots busy: the address taken goes back to the front of the field.
    batch.window->StartProcessing();
    QCOMPARE(batch.line("url")->text(), QStringLiteral("now-ok-0-f;now-ok-0-g"));

    for (const QString id : {"a", "b", "c", "d", "e"})
        release(id);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    QVERIFY(QFile::exists(QStringLiteral("out/f.mp4")));
    QVERIFY(QFile::exists(QStringLiteral("out/g.mp4")));
}

void TestBatch::windowEndsJobs()
{
    auto batch = std::make_unique<Batch>();
    batch->work.setAutoRemove(false);
    const auto removeWork = qScopeGuard([root = batch->work.path()] { QDir(root).removeRecursively(); });
    batch->start(QStringLiteral("wait-ok-0-a"), 1);
    const QString fetched = batch->work.filePath(
        QStringLiteral("out/.lumora-partial/%1/a.flv").arg(StagingFolder::key("wait-ok-0-a")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fetched), Patience);
    const QString child = QStringLiteral("/proc/") + QString::fromLatin1(readFile(QStringLiteral("started-a")).trimmed());
    QVERIFY(QFile::exists(child));
    batch.reset();
    QVERIFY2(!QFile::exists(child), qPrintable(child));
    // What was fetched so far stays, for the next try to resume.
    QVERIFY(QFile::exists(fetched));
}

void TestBatch::desktop_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("onBus");
    QTest::addColumn<QStringList>("notified");

    QTest::newRow("unseen, all saved") << "wait-ok-0-b" << false << true << QStringList{allSaved};
    QTest::newRow("unseen, one failed") << "wait-fail-0-b" << false << true
                                        << QStringList{"Valmis: 1/2 tallennettu, 1 epäonnistui – 1 palautettu kenttään. Syy: fake failure b"};
    QTest::newRow("active window") << "wait-ok-0-b" << true << true << QStringList();
    QTest::newRow("no bus") << "wait-ok-0-b" << false << false << QStringList();
}

// Notifications and the launcher entry, seen from a desktop on a private bus.
void TestBatch::desktop()
{
    QFETCH(QString, second);
    QFETCH(bool, active);
    QFETCH(bool, onBus);
    QFETCH(QStringList, notified);

    DesktopRecorder recorder;
    const auto disconnect = qScopeGuard([] {
        QDBusConnection::disconnectFromBus(QStringLiteral("desk"));
        QDBusConnection::disconnectFromBus(QStringLiteral("program"));
    });
    QDBusConnection desk = QDBusConnection::connectToBus(bus.address, QStringLiteral("desk"));
    QVERIFY(desk.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                                QDBusConnection::ExportScriptableSlots));
    QVERIFY(desk.registerService(QStringLiteral("org.freedesktop.Notifications")));
    // Bus signals reach a slot only by its signature text.
    QVERIFY(desk.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                         QStringLiteral("Update"), &recorder, SLOT(launcherUpdate(QString,QVariantMap))));
    const QString noBus = QStringLiteral("unix:path=") + QDir::temp().filePath(QStringLiteral("no-such-bus"));
    QDBusConnection program =
        QDBusConnection::connectToBus(onBus ? bus.address : noBus, QStringLiteral("program"));
    QCOMPARE(program.isConnected(), onBus);

    Batch batch;
    new DesktopIntegration(batch.window.get(), batch.window->findChild<QProgressBar *>(), program);
    if (active) {
        batch.window->show();
        batch.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(batch.window.get()));
    }
    // Job a shows 50 %, then ends; job b ends last, and so the batch.
    batch.start(QStringLiteral("wait-ok-50-a;") + second, 2);
    QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), 22, Patience);
    release(QStringLiteral("a"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), 50, Patience);
    release(QStringLiteral("b"));
    QTRY_VERIFY_WITH_TIMEOUT(batch.controlsEnabled(), Patience);
    QCOMPARE(batch.bar(), 100);

    // The entry is hidden after any notification has gone, and one sender's
    // messages arrive in order: once it is hidden, nothing more is coming.
    if (onBus)
        QTRY_VERIFY(!recorder.launcher.isEmpty()
                    && !recorder.launcher.last().value(QStringLiteral("progress-visible")).toBool());
    QList<QStringList> expected;
    for (const QString &text : notified)
        expected << QStringList{LUMORA_APP_NAME, LUMORA_APP_ID, text, QString(), LUMORA_APP_ID};
    QCOMPARE(recorder.notifications, expected);

    QList<double> shown;
    for (const QVariantMap &update : std::as_const(recorder.launcher)) {
        QCOMPARE(update.value(QStringLiteral("uri")).toString(),
                 QStringLiteral("application://" LUMORA_APP_ID ".desktop"));
        if (update.value(QStringLiteral("progress-visible")).toBool())
            shown << update.value(QStringLiteral("progress")).toDouble();
    }
    // a at 50 % of its fetch, then fetched, then saved; b fetched if it did not fail.
    QList<double> rising = {0.0, 0.22, 0.45, 0.5, 0.95, 1.0};
    if (second.contains(QLatin1String("fail")))
        rising.removeOne(0.95);
    QCOMPARE(shown, onBus ? rising : QList<double>());
    QCOMPARE(recorder.launcher.size(), onBus ? shown.size() + 1 : 0);
}

// The window closed mid-batch, and the program ended by SIGTERM or by SIGHUP
// (a logout): a has been saved, b and c are at work, d to f wait.
void TestBatch::listOutlivesWindow_data()
{
    QTest::addColumn<int>("ending");
    QTest::newRow("window closed") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestBatch::listOutlivesWindow()
{
    QFETCH(int, ending);
    const QStringList list{"now-ok-0-a", "wait-ok-0-b", "wait-ok-0-c", "now-ok-0-d", "now-ok-0-e", "now-ok-0-f"};
    Batch batch;
    QProcess program;
    if (ending == 0) {
        batch.start(list.join(u';'), 2);
    } else {
        runApart(program, list, QStringLiteral("out"), 2);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("out/a.mp4")) && started("b") && started("c"), Patience);
    const QString child = QStringLiteral("/proc/") + QString::fromLatin1(readFile(QStringLiteral("started-b")).trimmed());
    // A second copy started meanwhile keeps a journal of its own: the
    // running one's is not taken over.
    {
        const MainWindow second;
        QCOMPARE(second.findChild<QLineEdit *>(QStringLiteral("url"))->text(), QString());
        QCOMPARE(second.findChild<QLineEdit *>(QStringLiteral("statusbar"))->text(), QStringLiteral("Valmiina lataamaan!"));
    }
    if (ending == 0) {
        batch.window.reset();
    } else {
        QVERIFY(signalRunning(program.processId(), ending));
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, Patience);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    }
    // Its children are stopped, their partial files kept.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(child), Patience);
    QVERIFY(QFile::exists(QStringLiteral("out/.lumora-partial/%1/b.flv").arg(StagingFolder::key("wait-ok-0-b"))));
    release(QStringLiteral("b"));
    release(QStringLiteral("c"));
    continueBatch(batch, list, QStringLiteral("out"));
    QCOMPARE(runs("a"), 1);
    QVERIFY(QFile::exists(QStringLiteral("resumed-b")));
}

// The program killed at 20 random moments of a batch of six, each fetch
// taking longer than the journal waits before it writes. Five batches run
// side by side, each with its own folder and state folder.
void TestBatch::listOutlivesKills()
{
    Batch batch;
    qputenv("SLOW", "1");
    const auto restore = qScopeGuard([] {
        qunsetenv("SLOW");
        qputenv("XDG_STATE_HOME", QFile::encodeName(isolatedstate::folder()));
    });
    const QStringList list{"slow-ok-0-v1", "slow-ok-0-v2", "slow-ok-0-v3",
                           "slow-ok-0-v4", "slow-ok-0-v5", "slow-ok-0-v6"};
    constexpr int Rounds = 20;
    constexpr int AtOnce = 5;
    for (int first = 0; first < Rounds; first += AtOnce) {
        QProcess programs[AtOnce];
        for (int i = 0; i < AtOnce; ++i) {
            const QString round = QString::number(first + i);
            QDir().mkpath(QStringLiteral("state-") + round);
            qputenv("XDG_STATE_HOME", QFile::encodeName(batch.work.filePath(QStringLiteral("state-") + round)));
            runApart(programs[i], list, batch.work.filePath(QStringLiteral("out-") + round), 1);
            // The kill comes at a random moment of the batch, which takes about 4 s.
            const int moment = int(QRandomGenerator::global()->bounded(4000));
            QObject::connect(&programs[i], &QProcess::readyReadStandardOutput, &programs[i], [&program = programs[i], moment] {
                if (saidStarted(program))
                    QTimer::singleShot(moment, &program, [&program] { signalRunning(program.processId(), SIGKILL); });
            });
            QDir().mkpath(QStringLiteral("out-") + round);
        }
        for (QProcess &program : programs)
            QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, Patience);
        for (int i = 0; i < AtOnce; ++i) {
            const QString round = QString::number(first + i);
            qputenv("XDG_STATE_HOME", QFile::encodeName(batch.work.filePath(QStringLiteral("state-") + round)));
            qunsetenv("SLOW");
            continueBatch(batch, list, batch.work.filePath(QStringLiteral("out-") + round));
            if (QTest::currentTestFailed())
                qWarning("round %s", qPrintable(round));
            QVERIFY(!QTest::currentTestFailed());
            qputenv("SLOW", "1");
        }
    }
}

// A journal that cannot be read is set aside and said once; the program
// starts and downloads normally, and a link's target is left as it was.
void TestBatch::brokenJournals_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("cut in the middle") << "cut";
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("100 MiB") << "large";
    QTest::newRow("a link to another file") << "link";
    QTest::newRow("another user's file") << "foreign";
}

void TestBatch::brokenJournals()
{
    QFETCH(QString, damage);
    Batch batch;
    batch.window.reset();
    const QByteArray journal = BatchJournal::format({QStringLiteral("out"), false, {"now-ok-0-x", "now-ok-0-y"}});
    const QString name = journalFolder() + QStringLiteral("/1234abcd.journal");
    const QString elsewhere = batch.work.filePath(QStringLiteral("elsewhere.journal"));
    QFile file(damage == QLatin1String("link") ? elsewhere : name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(damage == QLatin1String("cut")       ? journal.left(journal.size() / 2)
               : damage == QLatin1String("garbage") ? QByteArray("\x7f""ELF\x01garbage\n\0\n", 16)
                                                    : journal);
    if (damage == QLatin1String("large"))
        QVERIFY(file.resize(100 * 1024 * 1024));
    file.close();
    if (damage == QLatin1String("link"))
        QVERIFY(QFile::link(elsewhere, name));
    if (damage == QLatin1String("foreign")) {
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        const passwd *nobody = ::getpwnam("nobody");
        QVERIFY(nobody && ::chown(QFile::encodeName(name).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
    }
    batch.renew();
    QVERIFY2(batch.status().startsWith(setAside + name + QStringLiteral(".unreadable-")), qPrintable(batch.status()));
    QVERIFY(QFileInfo::exists(batch.status().mid(setAside.size())));
    QVERIFY(!QFileInfo(name).exists() && !QFileInfo(name).isSymLink());
    QCOMPARE(batch.line("url")->text(), QString());
    if (damage == QLatin1String("link")) {
        QFile target(elsewhere);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), journal);
    }
    batch.line("outputfile")->setText(QStringLiteral("out"));
    batch.window->findChild<QCheckBox *>()->setChecked(false);
    batch.start(QStringLiteral("now-ok-0-a"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    batch.renew();
    QCOMPARE(batch.status(), QStringLiteral("Valmiina lataamaan!"));
}

// A list given again fetches only what is not in the folder as it was saved:
// episodes of one title are different addresses, a file deleted, renamed or
// changed is saved again, and a file the program did not save counts for nothing.
void TestBatch::listGivenAgain()
{
    Batch batch;
    const QString first = QStringLiteral("now-ok-0-a;now-ok-0-b;now-ok-1-t;now-ok-2-t");
    batch.start(first, 2);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    QCOMPARE(savedFiles(), QStringList({"a.mp4", "b.mp4", "t (2).mp4", "t.mp4"}));
    // Someone else's c.mp4, of the very size the program's would have.
    QFile foreign(QStringLiteral("out/c.mp4"));
    QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.write("video c") == 7);
    foreign.close();

    batch.start(first + QStringLiteral(";now-ok-0-c"), 2);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved + QStringLiteral(" (4 oli jo kansiossa)"), Patience);
    QCOMPARE(savedFiles(), QStringList({"a.mp4", "b.mp4", "c (2).mp4", "c.mp4", "t (2).mp4", "t.mp4"}));
    QVERIFY(runs("a") == 1 && runs("b") == 1 && runs("t") == 2 && runs("c") == 1);

    QVERIFY(QFile::remove(QStringLiteral("out/a.mp4")));
    QVERIFY(QFile::rename(QStringLiteral("out/b.mp4"), QStringLiteral("out/b-renamed.mp4")));
    QFile changed(QStringLiteral("out/t.mp4"));
    QVERIFY(changed.open(QIODevice::Append) && changed.write("!") == 1);
    changed.close();
    batch.start(first + QStringLiteral(";now-ok-0-c"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved + QStringLiteral(" (2 oli jo kansiossa)"), Patience);
    QCOMPARE(savedFiles(), QStringList({"a.mp4", "b-renamed.mp4", "b.mp4", "c (2).mp4", "c.mp4", "t (2).mp4",
                                        "t (3).mp4", "t.mp4"}));
    QVERIFY(runs("a") == 2 && runs("b") == 2 && runs("t") == 3 && runs("c") == 1);

    // A list longer than the field shows, given again with two new addresses:
    // the runs of saved ones between them are passed over at once.
    QStringList longList;
    for (int i = 0; i < 150; ++i)
        longList << QStringLiteral("now-ok-0-l%1").arg(i);
    batch.start(longList.join(u';'), 5);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    longList.insert(70, QStringLiteral("now-ok-0-n1"));
    longList << QStringLiteral("now-ok-0-n2");
    batch.start(longList.join(u';'), 5);
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved + QStringLiteral(" (150 oli jo kansiossa)"), Patience);
    QCOMPARE(batch.line("url")->text(), QStringLiteral("now-ok-0-n2"));
    QCOMPARE(savedFiles().size(), 160);
    QVERIFY(runs("l0") == 1 && runs("l149") == 1 && runs("n1") == 1 && runs("n2") == 1);
}

// Both readers take only what the program wrote whole: a journal cut at any
// byte or changed in any byte is refused; a record line cut or changed is
// skipped, the rest kept, the newest line of an address wins.
void TestBatch::recordFormats()
{
    const BatchJournal::Contents contents{QStringLiteral("/home/ä ö/a\nb%20"), false,
                                          {"https://portal/video/1", "ä ö%", "x\ty"}};
    const QByteArray journal = BatchJournal::format(contents);
    const std::optional<BatchJournal::Contents> back = BatchJournal::parse(journal);
    QVERIFY(back && back->folder == contents.folder && !back->repair && back->addresses == contents.addresses);
    for (qsizetype at = 0; at < journal.size(); ++at) {
        QByteArray changed = journal;
        changed[at] = char(changed[at] ^ 0x01);
        QVERIFY2(!BatchJournal::parse(journal.left(at)) && !BatchJournal::parse(changed), qPrintable(QString::number(at)));
    }

    const SavedVideos::Entry old{QStringLiteral("https://portal/video/1"), QStringLiteral("Uutiset.mp4"), 10, 1};
    const SavedVideos::Entry newer{old.address, QStringLiteral("Uutiset (2).mp4"), 20, 2};
    const SavedVideos::Entry other{QStringLiteral("https://portal/video/2"), QStringLiteral("Sää ja ilmasto.mp4"), 30, 3};
    QByteArray tampered = SavedVideos::formatLine(other);
    tampered.replace(" 30 ", " 31 ");
    const QByteArray record = SavedVideos::formatLine(old) + '\n' + tampered + '\n' + SavedVideos::formatLine(newer)
                              + "\ngarbage\n" + SavedVideos::formatLine(other).chopped(1);
    const QHash<QString, SavedVideos::Entry> entries = SavedVideos::parse(record);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.value(old.address).name, newer.name);
    QCOMPARE(entries.value(old.address).size, 20);
    QVERIFY(!SavedVideos::parseLine(SavedVideos::formatLine({old.address, QStringLiteral("../x.mp4"), 1, 1})));
}

// Each journal is written to a new file, flushed, renamed over the old one,
// and then its folder is flushed.
void TestBatch::journalWriteOrder()
{
    Batch batch;
    QProcess strace;
    strace.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The leak check stops the world through ptrace, which a traced program cannot.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"), environment.value(QStringLiteral("ASAN_OPTIONS"))
                                                           + QStringLiteral(":detect_leaks=0"));
    strace.setProcessEnvironment(environment);
    strace.start(QStringLiteral("strace"),
                 {"-f", "-y", "-qq", "-o", "trace", "-e", "trace=openat,write,fsync,fdatasync,rename,renameat,renameat2",
                  LUMORA_BATCHRUN, "now-ok-0-a;now-fail-0-b;now-ok-0-c", "out", "1", "copy"});
    QVERIFY2(strace.waitForFinished(Patience) && strace.exitCode() == 0, "strace failed: not installed, or the program failed under it");
    QCOMPARE(savedFiles(), QStringList({"a.mp4", "c.mp4"}));
    QFile trace(QStringLiteral("trace"));
    QVERIFY(trace.open(QIODevice::ReadOnly));
    // Per thread, the steps on journal files and the state folder, in order.
    static const QRegularExpression step(QStringLiteral(R"(^(\d+) +(\w+)\((?:\d+<([^>]*)>)?)"));
    QHash<QString, QString> steps;
    const QString folder = journalFolder();
    for (const QByteArray &line : trace.readAll().split('\n')) {
        const QRegularExpressionMatch match = step.match(QString::fromUtf8(line));
        const QString call = match.captured(2);
        const QString path = match.captured(3);
        QString &thread = steps[match.captured(1)];
        if (call.startsWith(QLatin1String("rename")) && line.contains(".journal.new\""))
            thread += QStringLiteral("rename,");
        else if ((call == QLatin1String("write") || call == QLatin1String("fsync")) && path.endsWith(QLatin1String(".journal.new")))
            thread += call + QStringLiteral(" new,");
        else if (call == QLatin1String("fsync") && path == folder)
            thread += QStringLiteral("fsync folder,");
    }
    // The record of saved videos flushes the folder too when it makes its file.
    static const QRegularExpression wholeWrites(
        QStringLiteral("^(fsync folder,)*((write new,)+fsync new,rename,fsync folder,(fsync folder,)*)*$"));
    int renames = 0;
    for (const QString &thread : std::as_const(steps)) {
        QVERIFY2(wholeWrites.match(thread).hasMatch(), qPrintable(thread));
        renames += int(thread.count(QStringLiteral("rename,")));
    }
    // At the start, after a, and at the end with the failed b.
    QVERIFY2(renames >= 2, qPrintable(QString::number(renames)));
}

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"

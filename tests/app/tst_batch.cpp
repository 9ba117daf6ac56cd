#include "app/batchqueue.h"
#include "app/desktopintegration.h"
#include "app/mainwindow.h"
#include "download/stagingfolder.h"
#include "external/buildconfig.h"
#include "external/externalprograms.h"
#include "fakeprograms.h"
#include "longticks.h"
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
#include <QRegularExpression>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
    ~Batch() { QDir::setCurrent(QDir::tempPath()); }

    void start(const QString &addresses, int threads) { startBatch(addresses, QStringLiteral("out"), threads, false); }
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
    void progress_data();
    void progress();
    void noFreeSlot();
    void windowEndsJobs();
    void desktop_data();
    void desktop();

private:
    PrivateBus bus;
};

void TestBatch::initTestCase()
{
    QVERIFY2(!bus.address.isEmpty(), qPrintable(bus.daemon.errorString()));
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
            const BatchQueue::Taken taken = queue.take(field);
            field = taken.field;
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

    // The next batch counts afresh, and its d does not replace the first one's.
    batch.start(QStringLiteral("wait-ok-0-d;wait-ok-0-e"), 1);
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..1/2"));
    batch.line("url")->setText(QString());
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..1/1"));
    QTRY_COMPARE_WITH_TIMEOUT(batch.status(), allSaved, Patience);
    QCOMPARE(batch.bar(), 100);
    QVERIFY(batch.controlsEnabled());
    QCOMPARE(QDir(QStringLiteral("out")).entryList(QDir::Files),
             QStringList({"a.mp4", "b.mp4", "d (2).mp4", "d.mp4"}));
    QVERIFY(!started("e"));
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
    QTest::addColumn<QString>("shown"); // in the field before the press
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
    QTEST(batch.line("url")->text(), "shown");
    batch.window.findChild<QComboBox *>()->setCurrentIndex(4);
    batch.button()->click();
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..5/%1").arg(saved.size()));
    // The field shows the front of what waits, its tool tip counts the rest.
    const QString shown = batch.line("url")->text();
    QVERIFY(shown.size() <= BatchQueue::ShownLength);
    static const QRegularExpression number(QStringLiteral("\\d+"));
    const int behind = number.match(batch.line("url")->toolTip()).captured().toInt();
    QCOMPARE(int(shown.count(u';')) + 1 + behind, qMax(1, int(saved.size()) - 5));
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
    QCOMPARE(batch.status(), QStringLiteral("Valmis: 3/5 tallennettu, 2 epäonnistui – 2 palautettu kenttään"));
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
                                << "Valmis: 2/3 tallennettu, 1 epäonnistui – 1 palautettu kenttään"
                                << QStringList{"ERROR: fake failure b"} << QStringList{".lumora-partial", "a.mp4", "c.mp4"}
                                << "now-fail-0-b";
    QTest::newRow("all failed") << "now-fail-0-a;now-fail-0-b;now-fail-0-c" << 1
                                << "Valmis: 0/3 tallennettu, 3 epäonnistui – 3 palautettu kenttään"
                                << QStringList{"ERROR: fake failure a", "ERROR: fake failure b",
                                               "ERROR: fake failure c"}
                                << QStringList{".lumora-partial"} << "now-fail-0-a;now-fail-0-b;now-fail-0-c";
    QTest::newRow("blanks around addresses") << " now-ok-0-a ;\tnow-ok-0-b  " << 2 << allSaved << QStringList()
                                             << QStringList{"a.mp4", "b.mp4"} << "\tnow-ok-0-b  ";
    // An empty piece is no address to try again.
    QTest::newRow("empty piece") << "now-ok-0-a;;now-ok-0-b" << 1 << "Valmis: 2/3 tallennettu, 1 epäonnistui"
                                 << QStringList{"ERROR: tyhjää osoitetta ei voi ladata"}
                                 << QStringList{"a.mp4", "b.mp4"} << "now-ok-0-b";
    QTest::newRow("empty field") << "" << 1 << "Valmis: 0/1 tallennettu, 1 epäonnistui"
                                 << QStringList{"ERROR: tyhjää osoitetta ei voi ladata"} << QStringList() << "";
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
    // The error messages outlive the texts that replaced them; a failed
    // fetcher's message names the partial file it left.
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

void TestBatch::progress_data()
{
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QStringList>("waiting");
    QTest::addColumn<int>("bar");

    QTest::newRow("three, one done, one at 50 %")
        << "now-ok-0-a;wait-ok-50-b;wait-ok-0-c" << QStringList{"b", "c"} << 33 + 16;
    QTest::newRow("four, one done, one at 40 %")
        << "now-ok-0-a;wait-ok-40-b;wait-ok-0-c;wait-ok-0-d" << QStringList{"b", "c", "d"} << 25 + 10;
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

void TestBatch::noFreeSlot()
{
    Batch batch;
    batch.start(QStringLiteral("wait-ok-0-a;wait-ok-0-b;wait-ok-0-c;wait-ok-0-d;wait-ok-0-e;now-ok-0-f;now-ok-0-g"), 5);
    QCOMPARE(batch.status(), QStringLiteral("Ladataan tiedostoja..5/7"));
    QCOMPARE(batch.line("url")->text(), QStringLiteral("now-ok-0-f;now-ok-0-g"));

    // All five slots busy: the address taken goes back to the front of the field.
    batch.window.StartProcessing();
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
                                        << QStringList{"Valmis: 1/2 tallennettu, 1 epäonnistui – 1 palautettu kenttään"};
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
    new DesktopIntegration(&batch.window, batch.window.findChild<QProgressBar *>(), program);
    if (active) {
        batch.window.show();
        batch.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&batch.window));
    }
    // Job a shows 50 %, then ends; job b ends last, and so the batch.
    batch.start(QStringLiteral("wait-ok-50-a;") + second, 2);
    QTRY_COMPARE_WITH_TIMEOUT(batch.bar(), 25, Patience);
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
    const QList<double> rising = {0.0, 0.25, 0.5, 1.0};
    QCOMPARE(shown, onBus ? rising : QList<double>());
    QCOMPARE(recorder.launcher.size(), onBus ? shown.size() + 1 : 0);
}

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"

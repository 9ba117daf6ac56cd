#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QString>
#include <QTemporaryDir>

// Puts a temporary folder of scripted programs first on PATH for the lifetime
// of the object, and restores PATH afterwards. For tests that must control a
// child's output byte by byte, or make a program missing.
class FakePrograms
{
public:
    enum class Path {
        BeforeSystem, // fakes shadow the real programs, the rest of PATH still works
        Only          // only the fakes and links made with linkReal() are found
    };

    explicit FakePrograms(Path mode = Path::BeforeSystem);
    ~FakePrograms();
    Q_DISABLE_COPY(FakePrograms)

    // The scripted fetchers, one behaviour a kind. They run in the job's
    // staging folder; what they share with the test lies in $WORK.
    enum class Fetcher {
        // The address's last part says what to do: "wait-ok-40-b" saves b.flv,
        // shows 40 %, waits for the file $WORK/release-b, then ends well;
        // "now-fail-0-c" fails at once. "flaky" fails with an error text and
        // "dies" is killed, both on the first try only; "slow" takes a while
        // where $SLOW is set. Each start is a line in
        // $WORK/started-ID, each resumed file one in $WORK/resumed-ID.
        ByAddress,
        CopiesClip, // copies the real clip $CLIP to clip.flv and names it
        NamesClip,  // names clip.flv, which holds no video
        Records,    // records its arguments in a file $WORK/args.*, then refuses the address
    };
    static QByteArray fetcherScript(Fetcher kind);
    // Writes the fetcher of that kind, with more lines after its script.
    QString addFetcher(Fetcher kind, const QByteArray &more = QByteArray());
    // A converter that writes the smallest whole MP4, an empty index box, as its target.
    static constexpr const char *SmallestMp4 = "out=\"${@: -1}\"; printf '\\0\\0\\0\\10moov' > \"${out#file:}\"\n";
    // Waits, bounded, until the job's first report made $WORK/go (see JobRun).
    static constexpr const char *WaitGo =
        "for ((i = 0; i < 5000; ++i)); do [ -e \"$WORK/go\" ] && break; sleep 0.02; done\n";
    // The arguments of each run of the Records fetcher, in no set order.
    static QList<QStringList> recordedArguments();

    // Writes an executable `name` whose body is run by /bin/bash.
    QString addScript(const QString &name, const QByteArray &bashBody);
    QString addConverter(const QByteArray &bashBody);
    // Makes the real program `name` (looked up on the original PATH) visible.
    bool linkReal(const QString &name);

    QString dir() const { return folder.path(); }

private:
    QTemporaryDir folder;
    QByteArray savedPath;
};

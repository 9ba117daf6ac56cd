#include "fakeprograms.h"

#include "external/externalprograms.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>

namespace {

// Plain characters, not QByteArray: suites build their own scripts from these
// while their globals are made, in whatever order the linker gives.
// Bounded, so that a fake left behind by a failed test ends by itself.
constexpr char byAddress[] = R"(
IFS=- read -r when result pct id <<<"${@: -1}"
echo $$ >> "$WORK/started-$id"
[ -e "$id.flv" ] && echo >> "$WORK/resumed-$id"
printf 'Saving to %s.flv\n' "$id" >&2
printf 'video %s' "$id" > "$id.flv"
printf '10.000 kB / 1.00 sec (%s.0%%)\r' "$pct" >&2
[ "$when" = slow ] && [ -n "$SLOW" ] && sleep 0.6
for ((i = 0; i < 5000; ++i)); do [ "$when" = wait ] && [ ! -e "$WORK/release-$id" ] || break; sleep 0.02; done
if [ "$result" = flaky ] || [ "$result" = dies ] && [ ! -e "$WORK/tried-$id" ]; then
    : > "$WORK/tried-$id"
    [ "$result" = dies ] && kill -9 $$
    result=fail
fi
if [ "$result" = fail ]; then printf 'ERROR: fake failure %s\n' "$id" >&2; exit 1; fi
# A fetcher that ends well has shown its progress reach the end.
printf '20.000 kB / 2.00 sec (100.0%%)\r' >&2
exit 0
)";

constexpr char records[] = R"sh(printf '%s\0' "$@" > "$(mktemp "$WORK/args.XXXXXX")"
printf 'ERROR: osoitteella ei ole videota\n' >&2
exit 1
)sh";

} // namespace

QByteArray FakePrograms::fetcherScript(Fetcher kind)
{
    // In the order of the kinds.
    static const QByteArray scripts[] = {
        byAddress,
        "cp -- \"$CLIP\" clip.flv; printf 'Saving to clip.flv\\n' >&2\n",
        "printf 'Saving to clip.flv\\n' >&2; printf 'not a video' > clip.flv\n",
        records,
    };
    return scripts[int(kind)];
}

FakePrograms::FakePrograms(Path mode)
    : savedPath(qgetenv("PATH"))
{
    const QByteArray own = QFile::encodeName(folder.path());
    qputenv("PATH", mode == Path::Only ? own : own + ':' + savedPath);
}

FakePrograms::~FakePrograms()
{
    qputenv("PATH", savedPath);
}

QString FakePrograms::addScript(const QString &name, const QByteArray &bashBody)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    // The fakes still need the ordinary tools (sleep, cat) whatever PATH the test set.
    file.write("#!/bin/bash\nPATH=\"$PATH:" + savedPath + "\"\n" + bashBody + '\n');
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool FakePrograms::linkReal(const QString &name)
{
    const QStringList searchPath = QString::fromLocal8Bit(savedPath).split(u':', Qt::SkipEmptyParts);
    const QString real = QStandardPaths::findExecutable(name, searchPath);
    return !real.isEmpty() && QFile::link(real, folder.filePath(name));
}

QString FakePrograms::addFetcher(Fetcher kind, const QByteArray &more)
{
    return addScript(external::fetcherProgram(), fetcherScript(kind) + more);
}

QString FakePrograms::addConverter(const QByteArray &bashBody)
{
    return addScript(external::converterProgram(), bashBody);
}

QList<QStringList> FakePrograms::recordedArguments()
{
    QList<QStringList> runs;
    const QDir work(QString::fromLocal8Bit(qgetenv("WORK")));
    for (const QString &name : work.entryList({QStringLiteral("args.*")}, QDir::Files)) {
        QFile file(work.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList arguments = QString::fromUtf8(file.readAll()).split(QChar(0));
        arguments.removeLast();
        runs << arguments;
    }
    return runs;
}

// The fetcher output parser on any bytes. The input is the child's standard
// error; a form feed ends one read, a vertical tab ends the fetcher and
// starts the converter, so the fuzzer chooses both and the seeds stay text.
#include "download/outputparser.h"
#include "external/externalprograms.h"
#include "fuzzcheck.h"

namespace {

constexpr char ReadEnd = '\f';
constexpr char ChildEnd = '\v';

void checkEndTest(const outputparser::State &state)
{
    const QString error = outputparser::endTest(state);
    check(error.isNull() || error.startsWith(QLatin1String("ERROR")));
}

// Below the limits nothing but progress is lost: an error line anywhere in
// what the fetcher wrote fails the job, and the report starts with the first.
void checkFetcherError(const outputparser::State &state, const QString &written)
{
    if (written.size() >= outputparser::FetchingLineLimit / 2)
        return;
    qsizetype first = -1;
    for (qsizetype e = written.indexOf(QLatin1String("ERROR")); e >= 0 && first < 0;
         e = written.indexOf(QLatin1String("ERROR"), e + 1)) {
        if (e == 0 || written.at(e - 1) == u'\n' || written.at(e - 1) == u'\r')
            first = e;
    }
    const QString error = outputparser::endTest(state);
    check(error.isNull() == (first < 0));
    qsizetype lineEnd = first;
    while (lineEnd >= 0 && lineEnd < written.size() && written.at(lineEnd) != u'\n'
           && written.at(lineEnd) != u'\r')
        ++lineEnd;
    check(first < 0 || error.startsWith(QStringView(written).mid(first, lineEnd - first)));
}

// Each read is handed over in place: copying and splitting the input would
// cost more allocations than the parser itself makes.
void feed(outputparser::State &state, QByteArrayView reads, int phase, QString *written = nullptr)
{
    for (qsizetype start = 0; start <= reads.size();) {
        qsizetype end = reads.indexOf(ReadEnd, start);
        if (end < 0)
            end = reads.size();
        const QByteArrayView read = reads.sliced(start, end - start);
        start = end + 1;
        const QString text = external::childText(QByteArray::fromRawData(read.data(), read.size()));
        state.output += text;
        if (written)
            *written += text;
        if (phase == 1) {
            outputparser::scanFetching(state);
            check(state.output.size() <= outputparser::FetchingLineLimit);
        } else {
            outputparser::scanFinishing(state);
            check(state.output.size() <= outputparser::FinishingOutputLimit);
            check(state.finishingLine.size() <= outputparser::FinishingLineLimit);
            check(state.finishingScanned <= state.output.size());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input = fuzzInput(data, size);
    const qsizetype childEnd = input.indexOf(ChildEnd);
    outputparser::State state;
    QString written;
    feed(state, childEnd < 0 ? input : input.first(childEnd), 1, &written);
    checkEndTest(state);
    checkFetcherError(state, written);
    outputparser::readSaveLine(state);
    if (childEnd >= 0) {
        feed(state, input.sliced(childEnd + 1), 2);
        checkEndTest(state);
    }
    return 0;
}

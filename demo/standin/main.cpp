// rtmpdump-zvb for the demo portal: learns the stream and title from the video
// page, then lets Debian's rtmpdump fetch the stream into a file named after the title.
#include "fetcher.h"
#include "options.h"
#include "pagefetch.h"
#include "videopage.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void say(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    standin::Options options;
    const QString optionProblem = standin::parseOptions(app.arguments().mid(1), &options);
    if (!optionProblem.isEmpty()) {
        say("ERROR: " + optionProblem.toUtf8() + '\n');
        return 1;
    }
    QByteArray page;
    QString problem;
    if (!standin::fetchVideoPage(options, &page, &problem)) {
        say("ERROR: " + problem.toUtf8() + '\n');
        return 1;
    }
    standin::VideoFacts facts;
    if (!standin::parseVideoPage(page, &facts)) {
        say("ERROR: no stream found on the video page " + options.pageUrl.toUtf8() + '\n');
        return 1;
    }
    const QString fileName = standin::fileNameForTitle(facts.title);
    say("Saving to " + fileName.toUtf8() + '\n');
    const bool realtime = qgetenv("LUMORA_STANDIN_FAST") != "1";
    return standin::Fetcher(options, facts.stream, fileName, realtime).run();
}

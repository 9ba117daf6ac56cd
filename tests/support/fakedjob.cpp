#include "fakedjob.h"

#include "external/externalprograms.h"
#include "fakeprograms.h"

bool runWithFakes(JobRun &run, const QByteArray &fetcher, const QByteArray &converter, int fixMp4,
                  const QString &folder, int timeout)
{
    FakePrograms fakes;
    fakes.addScript(external::fetcherProgram(), fetcher);
    if (!converter.isEmpty())
        fakes.addConverter(converter);
    run.start(fixMp4, folder);
    return run.wait(timeout);
}

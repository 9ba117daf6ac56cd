#include "isolatedstate.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace {

// Made before main, so that no window of the test can meet the real one.
struct StateHome
{
    StateHome()
    {
        dir.setAutoRemove(true);
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.path()));
    }
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/lumora-state-XXXXXX")};
};

StateHome &home()
{
    static StateHome state;
    return state;
}

const bool madeAtStart = (home(), true);

} // namespace

QString isolatedstate::folder()
{
    return home().dir.path();
}

void isolatedstate::clear()
{
    QDir(folder()).removeRecursively();
    QDir().mkpath(folder());
}

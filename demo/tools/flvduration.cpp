// Sets an FLV file's metadata duration to its last tag's time, so that rtmpdump
// reports a whole download of it as complete (see setDurationToLastTag).
#include "flvtags.h"

#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumora-flvduration FILE.flv\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "lumora-flvduration: cannot open %s\n", argv[1]);
        return 1;
    }
    QByteArray data = file.readAll();
    if (!standin::setDurationToLastTag(&data)) {
        std::fprintf(stderr, "lumora-flvduration: %s has no duration in its metadata\n", argv[1]);
        return 1;
    }
    if (!file.seek(0) || file.write(data) != data.size()) {
        std::fprintf(stderr, "lumora-flvduration: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

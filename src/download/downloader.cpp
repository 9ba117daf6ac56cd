#include "download/downloader.h"

#include <QTimer>

downloader::downloader(int ID, int fixMp4, QString pageUrl, QString folder)
    : folder(folder)
    , ID(ID)
    , fixMp4(fixMp4)
{
    Q_UNUSED(pageUrl);
}

downloader::~downloader() = default;

void downloader::pollProcess()
{
}

#pragma once

#include <QString>
#include <QStringList>

namespace standin {

struct Options {
    QString rtmp;
    QString swfUrl;
    QString pageUrl;
    int timeoutSeconds = 30;
    int autoResume = 0;
};

// Accepts exactly the options the downloader passes, each as "--name value".
// Returns an error text for anything else.
QString parseOptions(const QStringList &arguments, Options *options);

} // namespace standin

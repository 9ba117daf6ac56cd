#include "download/mp4check.h"

#include <QFile>
#include <QtEndian>

namespace mp4check {

namespace {

struct Box
{
    qint64 size = 0;
    QByteArray type;
};

// The header at `offset`: 32-bit size and type, then a 64-bit size when the
// 32-bit one is 1. A size of 0 ("runs to the end") is only ever left by a
// writer that never came back to fill it in.
QString readBox(QIODevice &file, qint64 offset, qint64 end, Box *box)
{
    if (end - offset < 8 || !file.seek(offset))
        return QStringLiteral("tiedosto katkeaa laatikon otsakkeen keskellä kohdassa %1").arg(offset);
    const QByteArray header = file.read(16);
    if (header.size() < 8)
        return QStringLiteral("tiedostoa ei voitu lukea kohdasta %1").arg(offset);
    box->type = header.mid(4, 4);
    qint64 headerSize = 8;
    box->size = qFromBigEndian<quint32>(header.constData());
    if (box->size == 1) {
        if (header.size() < 16)
            return QStringLiteral("tiedosto katkeaa laatikon otsakkeen keskellä kohdassa %1").arg(offset);
        const quint64 large = qFromBigEndian<quint64>(header.constData() + 8);
        box->size = large > quint64(end) ? end + 1 : qint64(large);
        headerSize = 16;
    }
    if (box->size == 0)
        return QStringLiteral("kohdassa %1 olevan laatikon kokoa ei ole kirjoitettu").arg(offset);
    if (box->size < headerSize)
        return QStringLiteral("kohdassa %1 olevan laatikon koko %2 on virheellinen").arg(offset).arg(box->size);
    if (box->size > end - offset)
        return QStringLiteral("kohdassa %1 alkava laatikko jatkuu tiedoston lopun yli").arg(offset);
    return QString();
}

} // namespace

QString problem(QIODevice &file)
{
    const qint64 end = file.size();
    if (end <= 0)
        return QStringLiteral("tiedosto on tyhjä");
    bool indexed = false;
    for (qint64 offset = 0; offset < end;) {
        Box box;
        if (const QString cut = readBox(file, offset, end, &box); !cut.isEmpty())
            return cut;
        indexed |= box.type == "moov";
        offset += box.size;
    }
    if (!indexed)
        return QStringLiteral("hakemisto (moov) puuttuu");
    return QString();
}

QString fileProblem(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("tiedostoa ei voitu lukea: ") + file.errorString();
    return problem(file);
}

} // namespace mp4check

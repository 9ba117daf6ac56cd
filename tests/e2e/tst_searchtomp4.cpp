// The whole road against the demo portal: search, select, hand back, fetch,
// convert, and the MP4 files as ffprobe reads them.
#include "mediaclip.h"
#include "portalrun.h"
#include "windowdriver.h"

#include <QDir>
#include <QTest>

class SearchToMp4Test : public PortalSuite
{
    Q_OBJECT

private slots:
    void searchAndSaveTwo();
};

void SearchToMp4Test::searchAndSaveTwo()
{
    constexpr int Patience = 120000;
    WindowDriver driver;
    // "ää" reaches the portal percent-encoded, and its results page comes back
    // in UTF-8: rows with Finnish letters, a dash and a euro sign.
    QDialog *dialog = driver.finishedSearch(QStringLiteral("ää"), Patience);
    QVERIFY(dialog);
    QCOMPARE(WindowDriver::resultRows(dialog), QStringList({
        u"<1002> Sää ja ilmasto: Öinen pakkanen yllätti Pohjois-Suomen. Ennuste viikolle."_qs,
        u"<1004> Öljymaalauksen alkeet: Taiteilija näyttää, miten sekoitetaan värit."_qs,
        u"<1005> Kalastajan aamu: Ääni veneen moottorista ja verkkojen nostoa."_qs,
        u"<1006> Tietovisa: Kuka tietää eniten? Ällistyttäviä kysymyksiä – voittajalle 100 €."_qs}));
    QVERIFY(WindowDriver::choose(dialog, {QStringLiteral("Sää ja ilmasto"),
                                          QStringLiteral("Öljymaalauksen alkeet")}));
    const QStringList ids{QStringLiteral("1002"), QStringLiteral("1004")};
    QCOMPARE(driver.line("url")->text(), pageAddresses(ids));

    // A folder with a blank and Finnish letters, to which the files must go by name.
    const QString folder = work.filePath(QStringLiteral("Tallennetut videot/kesä"));
    QVERIFY(QDir().mkpath(folder));
    driver.startBatch(driver.line("url")->text(), folder, 2);
    QTRY_COMPARE_WITH_TIMEOUT(driver.status(), QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!"), Patience);
    QCOMPARE(driver.bar(), 100);
    QVERIFY(driver.controlsEnabled());

    QCOMPARE(unsaved(folder, ids), QString());
    for (const QString &file : QDir(folder).entryList(QDir::Files)) {
        const MediaInfo mp4 = probeMedia(QDir(folder).filePath(file));
        QVERIFY2(mp4.formatName.contains(QLatin1String("mp4")), qPrintable(mp4.formatName));
        QCOMPARE(mp4.videoCodec, QStringLiteral("h264"));
        QCOMPARE(mp4.audioCodec, QStringLiteral("aac"));
    }
}

QTEST_MAIN(SearchToMp4Test)
#include "tst_searchtomp4.moc"

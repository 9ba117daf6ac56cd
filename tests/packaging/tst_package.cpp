#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

// Installs the build with `cmake --install`, builds the Debian package with
// cpack, unpacks it into a scratch root and checks both with Debian's own tools.
class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void iconSizes_data();
    void iconSizes();
    void launcher();
    void metainfo();
    void packageHoldsTheInstalledTree();
    void softwareCentresFindTheLauncher();
    void packageFields();
    void packageDependencies_data();
    void packageDependencies();
    void lintianFindsNoErrors();

private:
    struct Result
    {
        int exitCode = -1;
        QString output;
    };
    static Result run(const QString &program, const QStringList &arguments);
    static QSet<QString> filesUnder(const QString &folder);
    static QMap<QString, QString> controlFields(const QString &text);
    static QMap<QString, QString> desktopEntry(const QString &path);

    QTemporaryDir work;
    QString prefix;
    QString root;
    QString package;
    QString appId;
    QMap<QString, QString> fields;
};

TestPackage::Result TestPackage::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        result.output = program + QStringLiteral(": ") + process.errorString();
        return result;
    }
    result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

QSet<QString> TestPackage::filesUnder(const QString &folder)
{
    QSet<QString> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(QDir(folder).relativeFilePath(it.next()));
    return files;
}

// Debian control fields, one "Name: value" a line; continuation lines are not needed here.
QMap<QString, QString> TestPackage::controlFields(const QString &text)
{
    QMap<QString, QString> result;
    const auto lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && !line.startsWith(QLatin1Char(' ')))
            result.insert(line.left(colon), line.mid(colon + 1).trimmed());
    }
    return result;
}

QMap<QString, QString> TestPackage::desktopEntry(const QString &path)
{
    QFile file(path);
    QMap<QString, QString> entry;
    if (!file.open(QIODevice::ReadOnly))
        return entry;
    const auto lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            entry.insert(line.left(equals), line.mid(equals + 1));
    }
    return entry;
}

void TestPackage::initTestCase()
{
    QVERIFY(work.isValid());
    prefix = work.filePath(QStringLiteral("prefix"));
    root = work.filePath(QStringLiteral("root"));
    const QString build = QStringLiteral(LUMORA_BUILD_DIR);

    Result install = run(QStringLiteral(LUMORA_CMAKE),
                         {QStringLiteral("--install"), build, QStringLiteral("--prefix"), prefix});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));

    const QString packages = work.filePath(QStringLiteral("cpack"));
    Result cpack = run(QStringLiteral(LUMORA_CPACK),
                       {QStringLiteral("--config"), build + QStringLiteral("/CPackConfig.cmake"),
                        QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), packages});
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
    const QStringList debs = QDir(packages).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    package = QDir(packages).filePath(debs.first());

    Result unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package, root});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
    Result control = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package});
    QVERIFY2(control.exitCode == 0, qPrintable(control.output));
    fields = controlFields(control.output);

    const QStringList launchers = QDir(prefix + QStringLiteral("/share/applications"))
                                      .entryList({QStringLiteral("*.desktop")}, QDir::Files);
    QCOMPARE(launchers.size(), 1);
    appId = QFileInfo(launchers.first()).completeBaseName();
}

void TestPackage::installedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << "bin/lumora-downloader" << true;
    QTest::newRow("stream fetcher") << "bin/rtmpdump-zvb" << true;
    QTest::newRow("metainfo") << "share/metainfo/{id}.metainfo.xml" << false;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/{id}.svg" << false;
    QTest::newRow("manual page") << "share/man/man1/lumora-downloader.1.gz" << false;
    QTest::newRow("copyright") << "share/doc/lumora-downloader/copyright" << false;
}

void TestPackage::installedFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);

    const QFileInfo file(prefix + QLatin1Char('/') + path.replace(QLatin1String("{id}"), appId));
    QVERIFY2(file.isFile(), qPrintable(file.filePath()));
    QCOMPARE(file.isExecutable(), executable);
}

void TestPackage::iconSizes_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

// Each bitmap must be rendered at the size its folder promises, and not blank.
void TestPackage::iconSizes()
{
    QFETCH(int, size);

    const QImage icon(QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/%3.png")
                          .arg(prefix).arg(size).arg(appId));
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    int opaque = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x)
            opaque += qAlpha(icon.pixel(x, y)) == 255;
    }
    QVERIFY2(opaque > size * size / 4, "the icon is mostly empty");
}

void TestPackage::launcher()
{
    const QString path = QStringLiteral("%1/share/applications/%2.desktop").arg(prefix, appId);
    Result validate = run(QStringLiteral("desktop-file-validate"), {path});
    QVERIFY2(validate.exitCode == 0 && !validate.output.contains(QLatin1String("error:")),
             qPrintable(validate.output));

    const QMap<QString, QString> entry = desktopEntry(path);
    const QString program = entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
    QVERIFY2(QFileInfo(prefix + QStringLiteral("/bin/") + program).isExecutable(),
             qPrintable(program));
    QCOMPARE(entry.value(QStringLiteral("Icon")), appId);
    for (const char *key : {"Name", "Comment"}) {
        const QString english = entry.value(QLatin1String(key));
        const QString finnish = entry.value(QLatin1String(key) + QStringLiteral("[fi]"));
        QVERIFY2(!english.isEmpty() && !finnish.isEmpty() && english != finnish, key);
    }
    const QStringList categories = entry.value(QStringLiteral("Categories")).split(QLatin1Char(';'));
    for (const char *category : {"AudioVideo", "Video", "Network"})
        QVERIFY2(categories.contains(QLatin1String(category)), category);
}

void TestPackage::metainfo()
{
    const QString path = QStringLiteral("%1/share/metainfo/%2.metainfo.xml").arg(prefix, appId);
    Result validate = run(QStringLiteral("appstreamcli"),
                          {QStringLiteral("validate"), QStringLiteral("--no-net"), path});
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.output));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString id;
    QString launchable;
    QString newestRelease;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("id"))
            id = xml.readElementText();
        else if (xml.name() == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1String("release") && newestRelease.isEmpty())
            newestRelease = xml.attributes().value(QLatin1String("version")).toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(id, appId);
    QCOMPARE(launchable, appId + QStringLiteral(".desktop"));
    QCOMPARE(newestRelease, QStringLiteral(LUMORA_VERSION));
}

// What `cmake --install` puts in place must be exactly what the package carries.
void TestPackage::packageHoldsTheInstalledTree()
{
    QCOMPARE(filesUnder(root + QStringLiteral("/usr")), filesUnder(prefix));
}

// Checks the metainfo against the launcher and icon the package really carries.
void TestPackage::softwareCentresFindTheLauncher()
{
    Result validate = run(QStringLiteral("appstreamcli"),
                          {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), root});
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.output));
}

void TestPackage::packageFields()
{
    QCOMPARE(fields.value(QStringLiteral("Package")), QStringLiteral("lumora-downloader"));
    QCOMPARE(fields.value(QStringLiteral("Version")), QStringLiteral(LUMORA_VERSION));
    QVERIFY(!fields.value(QStringLiteral("Maintainer")).isEmpty());
}

void TestPackage::packageDependencies_data()
{
    QTest::addColumn<QString>("dependency");
    for (const char *name : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins",
                             "ffmpeg", "wget", "rtmpdump"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestPackage::packageDependencies()
{
    QFETCH(QString, dependency);

    QSet<QString> names;
    const auto clauses = fields.value(QStringLiteral("Depends")).split(QLatin1Char(','));
    for (const QString &clause : clauses)
        names.insert(clause.trimmed().section(QLatin1Char(' '), 0, 0));
    QVERIFY2(names.contains(dependency), qPrintable(fields.value(QStringLiteral("Depends"))));
}

void TestPackage::lintianFindsNoErrors()
{
    Result lintian = run(QStringLiteral("lintian"), {package});
    const auto lines = lintian.output.split(QLatin1Char('\n'));
    QStringList errors;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("E: ")))
            errors << line;
        else if (line.startsWith(QLatin1String("W: ")))
            qInfo("%s", qPrintable(line));
    }
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.output));
}

QTEST_MAIN(TestPackage)
#include "tst_package.moc"

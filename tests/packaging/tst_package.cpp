#include "download/stagingfolder.h"
#include "fakeprograms.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
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
    void licence();
    void commandLine_data();
    void commandLine();
    void helpMatchesManualPage();
    void manualPageSaysWhereDownloadsWait();
    void demoCommand();
    void setupLeavesServicesAsFound_data();
    void setupLeavesServicesAsFound();
    void packageHoldsTheInstalledTree();
    void softwareCentresFindTheLauncher();
    void packageFields();
    void packageDependencies_data();
    void packageDependencies();
    void lintianFindsNothing();

private:
    struct Result
    {
        int exitCode = -1;
        QString output;
    };
    static Result run(const QString &program, const QStringList &arguments);
    static QByteArray fileBytes(const QString &path);
    static QSet<QString> filesUnder(const QString &folder);
    static QMap<QString, QString> controlFields(const QString &text);
    static QMap<QString, QString> desktopEntry(const QString &path);
    static QString manualSection(const QString &page, const QString &section);

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

QByteArray TestPackage::fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        // The main group only; the actions' groups follow it.
        if (line.startsWith(QLatin1Char('[')) && !entry.isEmpty())
            break;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            entry.insert(line.left(equals), line.mid(equals + 1));
    }
    return entry;
}

// One section of a manual page in packaging/, "\\-" read as "-"; empty when missing.
QString TestPackage::manualSection(const QString &page, const QString &section)
{
    QString manual = QString::fromUtf8(fileBytes(QStringLiteral(LUMORA_SOURCE_DIR "/packaging/") + page));
    manual.replace(QLatin1String("\\-"), QLatin1String("-"));
    const qsizetype start = manual.indexOf(QLatin1String("\n.SH ") + section + u'\n');
    if (start < 0)
        return {};
    return manual.mid(start, manual.indexOf(QLatin1String("\n.SH "), start + 1) - start);
}

void TestPackage::initTestCase()
{
    QVERIFY(work.isValid());
    // A blank in the path, as a user's folder may have.
    prefix = work.filePath(QStringLiteral("install prefix"));
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
    QTest::newRow("demo command") << "bin/lumora-downloader-demo" << true;
    QTest::newRow("demo portal") << "libexec/lumora-downloader/lumora-portal" << true;
    QTest::newRow("demo catalogue") << "share/lumora-downloader/catalogue.tsv" << false;
    QTest::newRow("demo manual page") << "share/man/man1/lumora-downloader-demo.1.gz" << false;
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
    QVERIFY2(validate.exitCode == 0 && validate.output.trimmed().isEmpty(), qPrintable(validate.output));

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
    // One main category only, or menus show the program twice.
    QCOMPARE(entry.value(QStringLiteral("Categories")), QStringLiteral("AudioVideo;Video;"));
    // X11 docks tie the window to its launcher by the window's class, which
    // Qt takes from the application's name.
    QCOMPARE(entry.value(QStringLiteral("StartupWMClass")), program);
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
    QString licence;
    QString newestRelease;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("id"))
            id = xml.readElementText();
        else if (xml.name() == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1String("project_license"))
            licence = xml.readElementText();
        else if (xml.name() == QLatin1String("release") && newestRelease.isEmpty())
            newestRelease = xml.attributes().value(QLatin1String("version")).toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(id, appId);
    QCOMPARE(launchable, appId + QStringLiteral(".desktop"));
    QCOMPARE(licence, QStringLiteral("GPL-3.0-or-later"));
    QCOMPARE(newestRelease, QStringLiteral(LUMORA_VERSION));
}

// The full text at the top of the sources; the package names it in Debian's
// machine-readable form and points at the system's copy instead of a second one.
void TestPackage::licence()
{
    const QByteArray gpl3 = fileBytes(QStringLiteral("/usr/share/common-licenses/GPL-3"));
    QVERIFY(!gpl3.isEmpty());
    QCOMPARE(fileBytes(QStringLiteral(LUMORA_SOURCE_DIR "/LICENSE")), gpl3);

    const QString copyright = QString::fromUtf8(
        fileBytes(root + QStringLiteral("/usr/share/doc/lumora-downloader/copyright")));
    QVERIFY(copyright.startsWith(
        QLatin1String("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")));
    QVERIFY(copyright.contains(QLatin1String("\nFiles: *\n")));
    QCOMPARE(copyright.count(QLatin1String("\nLicense: GPL-3+\n")), 2);
    QVERIFY(copyright.contains(QLatin1String("either version 3 of the License, or\n (at your option) any later version.")));
    QVERIFY(copyright.contains(QLatin1String("\"/usr/share/common-licenses/GPL-3\"")));
    QVERIFY(!filesUnder(root).contains(QStringLiteral("usr/share/doc/lumora-downloader/LICENSE")));
}

void TestPackage::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString usage = QStringLiteral("Käyttö: {program} [valitsimet]\n"
                                         "Tallentaa Lumora-videopalvelun videoita MP4-tiedostoiksi.\n\n"
                                         "Valitsimet:\n"
                                         "  -h, --help         Näyttää tämän ohjeen.\n");
    const QString version = QStringLiteral("lumora-downloader " LUMORA_VERSION "\n");
    QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << QString();
    QTest::newRow("-h") << QStringList{"-h"} << 0 << usage << QString();
    QTest::newRow("--version") << QStringList{"--version"} << 0 << version << QString();
    QTest::newRow("-v") << QStringList{"-v"} << 0 << version << QString();
    QTest::newRow("unknown option") << QStringList{"--nopeus"} << 1 << QString()
                                    << QStringLiteral("lumora-downloader: Tuntematon valitsin ”nopeus”.\n");
    QTest::newRow("no display") << QStringList() << 1 << QString()
                                << QStringLiteral("lumora-downloader: näyttöä ei löydy (DISPLAY ja WAYLAND_DISPLAY "
                                                  "puuttuvat).\nOhjelma tarvitsee graafisen työpöydän; ilman sitä sen "
                                                  "voi ajaa virtuaalinäytöllä: xvfb-run lumora-downloader\n");
}

// The installed program, as a user would start it from a terminal, in
// Finnish whatever the user's language.
void TestPackage::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    const QString program = prefix + QStringLiteral("/bin/lumora-downloader");
    out.replace(QLatin1String("{program}"), program);
    for (const QString locale : {"fi_FI.UTF-8", "en_US.UTF-8"}) {
        QProcess process;
        // Qt's complaint about a missing runtime folder is no part of what is printed.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), work.path());
        // Help, version and a wrong option answer on a text console too, without a display.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("LANG"), locale);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QString printed = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(printed.startsWith(out), qPrintable(locale + u'\n' + printed));
        QVERIFY2(out.isEmpty() == printed.isEmpty(), qPrintable(printed));
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), err);
    }
}

// Every option that --help lists is in the manual page with the same words.
void TestPackage::helpMatchesManualPage()
{
    Result help = run(prefix + QStringLiteral("/bin/lumora-downloader"), {QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    const QString manual = manualSection(QStringLiteral("lumora-downloader.1"), QStringLiteral("OPTIONS"));
    QVERIFY(!manual.isEmpty());

    static const QRegularExpression optionLine(QStringLiteral("^  (-[^\\s,]+)(?:, (-\\S+))?(?: <\\S+>)?\\s+(\\S.*)$"),
                                               QRegularExpression::MultilineOption);
    int listed = 0;
    for (const auto &match : optionLine.globalMatch(help.output)) {
        ++listed;
        QVERIFY2(manual.contains(QLatin1Char('\n') + match.captured(3) + QLatin1Char('\n')),
                 qPrintable(match.captured(0)));
        for (int name : {1, 2}) {
            if (match.hasCaptured(name) && !match.captured(name).isEmpty())
                QVERIFY2(manual.contains(match.captured(name)), qPrintable(match.captured(name)));
        }
    }
    QCOMPARE(listed, 4);
    QVERIFY2(help.output.contains(QLatin1String("--portal <osoite>")), qPrintable(help.output));
}

// The installed demo command, from a folder with a blank in its path: the
// portal on ports the system gives, the program told where it is, and the
// portal gone with the program. The program is a stand-in that searches
// with wget, as a test cannot work the installed program's window.
void TestPackage::demoCommand()
{
    const QString seen = work.filePath(QStringLiteral("demo seen"));
    QVERIFY(QDir().mkpath(seen));
    FakePrograms fakes;
    const QString program = fakes.addScript(
        QStringLiteral("lumora-downloader"),
        "printf '%s\\n' \"$@\" > \"$SEEN/arguments\"\n"
        "wget -q -O \"$SEEN/page\" \"${2%%,*}/haku//uusimmat/hakusana/uutiset/media/video\"");
    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SEEN"), seen);
    environment.insert(QStringLiteral("LUMORA_DEMO_PROGRAM"), program);
    environment.insert(QStringLiteral("LUMORA_DEMO_RUN_DIR"), work.filePath(QStringLiteral("demo run")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    demo.setProcessEnvironment(environment);
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start(prefix + QStringLiteral("/bin/lumora-downloader-demo"), QStringList());
    QVERIFY(demo.waitForFinished(180000));
    QVERIFY2(demo.exitCode() == 0, demo.readAll().constData());

    const QStringList arguments = QString::fromUtf8(fileBytes(seen + QStringLiteral("/arguments"))).split(u'\n');
    QCOMPARE(arguments.value(0), QStringLiteral("--portal"));
    const QStringList addresses = arguments.value(1).split(u',');
    QCOMPARE(addresses.size(), 2);
    QVERIFY(addresses.first().startsWith(QLatin1String("http://127.0.0.1:")));
    QVERIFY(addresses.last().startsWith(QLatin1String("rtmp://127.0.0.1:")));
    QVERIFY2(!arguments.value(1).contains(QLatin1String(":47180"))
                 && !arguments.value(1).contains(QLatin1String(":47193")), qPrintable(arguments.value(1)));
    QVERIFY(fileBytes(seen + QStringLiteral("/page")).count("href=\"/video/") >= 4);
    for (const QString &address : addresses) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(QUrl(address).port()));
        QVERIFY2(!socket.waitForConnected(2000), qPrintable(address + QStringLiteral(" still answers")));
    }
}

void TestPackage::setupLeavesServicesAsFound_data()
{
    QTest::addColumn<QStringList>("missing"); // packages not installed before
    QTest::addColumn<bool>("enabledBefore");
    QTest::addColumn<bool>("enabledAfter");

    QTest::newRow("no nginx before") << QStringList{"nginx-light", "libnginx-mod-rtmp", "nginx-common"}
                                     << false << false;
    QTest::newRow("the user's nginx, enabled") << QStringList{"weston"} << true << true;
    QTest::newRow("the user's nginx, disabled") << QStringList{"weston"} << false << false;
}

// scripts/setup against stand-ins for dpkg-query, apt-get and systemctl, as a
// test may not install packages or touch this machine's services. The
// apt-get stand-in does what Debian's does when it brings nginx-common: its
// service is enabled at boot and running on port 80.
void TestPackage::setupLeavesServicesAsFound()
{
    QFETCH(QStringList, missing);
    QFETCH(bool, enabledBefore);
    QFETCH(bool, enabledAfter);

    QTemporaryDir state;
    QVERIFY(QDir().mkpath(state.filePath(QStringLiteral("missing"))));
    for (const QString &package : missing)
        QVERIFY(QFile(state.filePath(QStringLiteral("missing/") + package)).open(QIODevice::WriteOnly));
    // An enabled service runs, one the user disabled does not.
    for (const char *name : {"enabled", "running"}) {
        if (enabledBefore)
            QVERIFY(QFile(state.filePath(QLatin1String(name))).open(QIODevice::WriteOnly));
    }
    FakePrograms fakes;
    fakes.addScript(QStringLiteral("dpkg-query"), "[[ ! -e $STATE/missing/${@: -1} ]] && printf 'install ok installed'");
    fakes.addScript(QStringLiteral("apt-get"),
                    "[[ \" $* \" == *' install '* ]] || exit 0\n"
                    "if [[ \" $* \" == *' nginx-light '* && -e $STATE/missing/nginx-common ]]; then\n"
                    "    rm \"$STATE/missing/nginx-common\"; touch \"$STATE/enabled\" \"$STATE/running\"\n"
                    "fi\n"
                    "for p; do rm -f \"$STATE/missing/$p\"; done");
    fakes.addScript(QStringLiteral("systemctl"),
                    "echo \"$*\" >> \"$STATE/systemctl\"\n"
                    "case $1 in disable) rm -f \"$STATE/enabled\" ;; stop) rm -f \"$STATE/running\" ;; esac");
    QProcess setup;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("STATE"), state.path());
    setup.setProcessEnvironment(environment);
    setup.setProcessChannelMode(QProcess::MergedChannels);
    setup.start(QStringLiteral("bash"), {QStringLiteral(LUMORA_SOURCE_DIR "/scripts/setup")});
    QVERIFY(setup.waitForFinished(30000));
    QVERIFY2(setup.exitCode() == 0, setup.readAll().constData());

    QVERIFY(QDir(state.filePath(QStringLiteral("missing"))).isEmpty());
    QCOMPARE(QFile::exists(state.filePath(QStringLiteral("enabled"))), enabledAfter);
    QCOMPARE(QFile::exists(state.filePath(QStringLiteral("running"))), enabledAfter);
    // A nginx that was there before is never so much as asked about.
    QCOMPARE(QFile::exists(state.filePath(QStringLiteral("systemctl"))), missing.contains(QLatin1String("nginx-common")));
}

// The FILES sections name the folder where the program keeps unfinished
// downloads, under the name the program uses.
void TestPackage::manualPageSaysWhereDownloadsWait()
{
    for (const char *page : {"lumora-downloader.1", "rtmpdump-zvb.1"}) {
        const QString files = manualSection(QLatin1String(page), QStringLiteral("FILES"));
        QVERIFY2(files.contains(QLatin1String(StagingFolder::RootName)), page);
    }
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
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("dependency");
    for (const char *name : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins",
                             "qt6-translations-l10n", "ffmpeg", "wget", "rtmpdump"})
        QTest::newRow(name) << QStringLiteral("Depends") << QString::fromLatin1(name);
    QTest::newRow("qt6-wayland") << QStringLiteral("Recommends") << QStringLiteral("qt6-wayland");
}

void TestPackage::packageDependencies()
{
    QFETCH(QString, field);
    QFETCH(QString, dependency);

    QSet<QString> names;
    const auto clauses = fields.value(field).split(QLatin1Char(','));
    for (const QString &clause : clauses)
        names.insert(clause.trimmed().section(QLatin1Char(' '), 0, 0));
    QVERIFY2(names.contains(dependency), qPrintable(fields.value(field)));
}

// Errors, warnings and the informational tags alike.
void TestPackage::lintianFindsNothing()
{
    Result lintian = run(QStringLiteral("lintian"), {QStringLiteral("--display-info"), package});
    static const QRegularExpression tag(QStringLiteral("^[A-Z]: "), QRegularExpression::MultilineOption);
    QVERIFY2(lintian.exitCode == 0 && !lintian.output.contains(tag), qPrintable(lintian.output));
}

QTEST_MAIN(TestPackage)
#include "tst_package.moc"

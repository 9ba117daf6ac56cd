#include "download/stagingfolder.h"
#include "fakeprograms.h"
#include "programrun.h"
#include "testfiles.h"

#include <QImage>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>

namespace {

// "name<separator>value" lines up to the second group: Debian control fields
// (no continuation lines needed here), or a launcher's main group without its actions.
QMap<QString, QString> keyValues(const QString &text, QChar separator)
{
    QMap<QString, QString> result;
    const auto lines = text.split(u'\n');
    for (const QString &line : lines) {
        if (line.startsWith(u'[') && !result.isEmpty())
            break;
        const qsizetype at = line.indexOf(separator);
        if (at > 0 && !line.startsWith(u' '))
            result.insert(line.left(at), line.mid(at + 1).trimmed());
    }
    return result;
}

// One section of a manual page in packaging/, "\\-" read as "-"; empty when missing.
QString manualSection(const QString &page, const QString &section)
{
    QString manual = QString::fromUtf8(readFile(LUMORA_SOURCE_DIR "/packaging/" + page));
    manual.replace("\\-", "-");
    const qsizetype start = manual.indexOf("\n.SH " + section + u'\n');
    return start < 0 ? QString() : manual.mid(start, manual.indexOf("\n.SH ", start + 1) - start);
}

QByteArray said(const Finished &done)
{
    return done.out + done.err;
}

} // namespace

// Installs the build with `cmake --install`, builds the Debian package with
// cpack, unpacks it into a scratch root and checks both with Debian's own tools.
class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString prefix;
    QString root;
    QString package;
    QString appId;
    QMap<QString, QString> fields;

    static Finished run(const QString &program, const QStringList &arguments)
    {
        return runProgram(program, arguments, {}, QProcess::MergedChannels);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        // A blank in the path, as a user's folder may have.
        prefix = work.filePath("install prefix");
        root = work.filePath("root");
        const Finished install = run(LUMORA_CMAKE, {"--install", LUMORA_BUILD_DIR, "--prefix", prefix});
        QVERIFY2(install.exitCode == 0, said(install).constData());

        const QString packages = work.filePath("cpack");
        const Finished cpack = run(LUMORA_CPACK, {"--config", LUMORA_BUILD_DIR "/CPackConfig.cmake",
                                                  "-G", "DEB", "-B", packages});
        QVERIFY2(cpack.exitCode == 0, said(cpack).constData());
        const QStringList debs = QDir(packages).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        package = QDir(packages).filePath(debs.first());

        const Finished unpack = run("dpkg-deb", {"-x", package, root});
        QVERIFY2(unpack.exitCode == 0, said(unpack).constData());
        const Finished control = run("dpkg-deb", {"-f", package});
        QVERIFY2(control.exitCode == 0, said(control).constData());
        fields = keyValues(QString::fromUtf8(control.out), u':');

        const QStringList launchers = QDir(prefix + "/share/applications").entryList({"*.desktop"}, QDir::Files);
        QCOMPARE(launchers.size(), 1);
        appId = QFileInfo(launchers.first()).completeBaseName();
    }

    void installedFiles_data()
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
    void installedFiles()
    {
        QFETCH(QString, path);
        const QFileInfo file(prefix + u'/' + path.replace("{id}", appId));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QTEST(file.isExecutable(), "executable");
    }

    void iconSizes_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 32, 48, 64, 128, 256})
            QTest::addRow("%dx%d", size, size) << size;
    }
    // Each bitmap must be rendered at the size its folder promises, and not blank.
    void iconSizes()
    {
        QFETCH(int, size);
        const QImage icon(QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/%3.png").arg(prefix).arg(size).arg(appId));
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        const QImage alpha = icon.convertToFormat(QImage::Format_Alpha8); // rows of whole words at these sizes
        const auto opaque = std::count(alpha.constBits(), alpha.constBits() + alpha.sizeInBytes(), uchar(255));
        QVERIFY2(opaque > size * size / 4, "the icon is mostly empty");
    }

    void launcher()
    {
        const QString path = QStringLiteral("%1/share/applications/%2.desktop").arg(prefix, appId);
        const Finished validate = run("desktop-file-validate", {path});
        QVERIFY2(validate.exitCode == 0 && validate.out.trimmed().isEmpty(), said(validate).constData());

        const QMap<QString, QString> entry = keyValues(QString::fromUtf8(readFile(path)), u'=');
        const QString program = entry.value("Exec").section(u' ', 0, 0);
        QVERIFY2(QFileInfo(prefix + "/bin/" + program).isExecutable(), qPrintable(program));
        QCOMPARE(entry.value("Icon"), appId);
        for (const QString key : {"Name", "Comment"}) {
            const QString english = entry.value(key);
            const QString finnish = entry.value(key + "[fi]");
            QVERIFY2(!english.isEmpty() && !finnish.isEmpty() && english != finnish, qPrintable(key));
        }
        // One main category only, or menus show the program twice.
        QCOMPARE(entry.value("Categories"), "AudioVideo;Video;");
        // X11 docks tie the window to its launcher by the window's class, which
        // Qt takes from the application's name.
        QCOMPARE(entry.value("StartupWMClass"), program);
    }

    void metainfo()
    {
        const QString path = QStringLiteral("%1/share/metainfo/%2.metainfo.xml").arg(prefix, appId);
        const Finished validate = run("appstreamcli", {"validate", "--no-net", path});
        QVERIFY2(validate.exitCode == 0, said(validate).constData());

        QXmlStreamReader xml(readFile(path));
        QMap<QString, QString> found; // the last of each element, the newest (first) release's version
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"release" && !found.contains("release"))
                found.insert("release", xml.attributes().value("version").toString());
            else if (QStringList{"id", "launchable", "project_license"}.contains(xml.name()))
                found.insert(xml.name().toString(), xml.readElementText());
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(found.value("id"), appId);
        QCOMPARE(found.value("launchable"), appId + ".desktop");
        QCOMPARE(found.value("project_license"), "GPL-3.0-or-later");
        QCOMPARE(found.value("release"), LUMORA_VERSION);
    }

    // The full text at the top of the sources; the package names it in Debian's
    // machine-readable form and points at the system's copy instead of a second one.
    void licence()
    {
        const QByteArray gpl3 = readFile("/usr/share/common-licenses/GPL-3");
        QVERIFY(!gpl3.isEmpty());
        QCOMPARE(readFile(LUMORA_SOURCE_DIR "/LICENSE"), gpl3);

        const QString copyright = QString::fromUtf8(readFile(root + "/usr/share/doc/lumora-downloader/copyright"));
        QVERIFY(copyright.startsWith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
        QVERIFY(copyright.contains("\nFiles: *\n"));
        QCOMPARE(copyright.count("\nLicense: GPL-3+\n"), 2);
        QVERIFY(copyright.contains("either version 3 of the License, or\n (at your option) any later version."));
        QVERIFY(copyright.contains("\"/usr/share/common-licenses/GPL-3\""));
        QVERIFY(!entriesBelow(root, QDir::Files).contains("usr/share/doc/lumora-downloader/LICENSE"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString usage = "Käyttö: {program} [valitsimet]\n"
                              "Tallentaa Lumora-videopalvelun videoita MP4-tiedostoiksi.\n\n"
                              "Valitsimet:\n"
                              "  -h, --help         Näyttää tämän ohjeen.\n";
        const QString version = "lumora-downloader " LUMORA_VERSION "\n";
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << QString();
        QTest::newRow("-h") << QStringList{"-h"} << 0 << usage << QString();
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << QString();
        QTest::newRow("-v") << QStringList{"-v"} << 0 << version << QString();
        QTest::newRow("unknown option") << QStringList{"--nopeus"} << 1 << QString()
                                        << "lumora-downloader: Tuntematon valitsin ”nopeus”.\n";
        QTest::newRow("no display") << QStringList() << 1 << QString()
                                    << "lumora-downloader: näyttöä ei löydy (DISPLAY ja WAYLAND_DISPLAY puuttuvat).\n"
                                       "Ohjelma tarvitsee graafisen työpöydän; ilman sitä sen voi ajaa "
                                       "virtuaalinäytöllä: xvfb-run lumora-downloader\n";
    }
    // The installed program, as a user would start it from a terminal, in
    // Finnish whatever the user's language.
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, out);
        const QString program = prefix + "/bin/lumora-downloader";
        out.replace("{program}", program);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Qt's complaint about a missing runtime folder is no part of what is printed.
        environment.insert("XDG_RUNTIME_DIR", work.path());
        // Help, version and a wrong option answer on a text console too, without a display.
        for (const QString name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            environment.remove(name);
        for (const QString locale : {"fi_FI.UTF-8", "en_US.UTF-8"}) {
            environment.insert("LANG", locale);
            const Finished done = runProgram(program, arguments, environment);
            QTEST(done.exitCode, "exitCode");
            const QString printed = QString::fromUtf8(done.out);
            QVERIFY2(printed.startsWith(out), qPrintable(locale + u'\n' + printed));
            QVERIFY2(out.isEmpty() == printed.isEmpty(), qPrintable(printed));
            QTEST(QString::fromUtf8(done.err), "err");
        }
    }

    // Every option that --help lists is in the manual page with the same words.
    void helpMatchesManualPage()
    {
        const Finished help = run(prefix + "/bin/lumora-downloader", {"--help"});
        QCOMPARE(help.exitCode, 0);
        const QString manual = manualSection("lumora-downloader.1", "OPTIONS");
        QVERIFY(!manual.isEmpty());
        static const QRegularExpression optionLine(QStringLiteral("^  (-[^\\s,]+)(?:, (-\\S+))?(?: <\\S+>)?\\s+(\\S.*)$"),
                                                   QRegularExpression::MultilineOption);
        int listed = 0;
        const QString text = QString::fromUtf8(help.out);
        for (const auto &match : optionLine.globalMatch(text)) {
            ++listed;
            QVERIFY2(manual.contains(u'\n' + match.captured(3) + u'\n'), qPrintable(match.captured(0)));
            for (int name : {1, 2}) {
                if (!match.captured(name).isEmpty())
                    QVERIFY2(manual.contains(match.captured(name)), qPrintable(match.captured(name)));
            }
        }
        QCOMPARE(listed, 4);
        QVERIFY2(text.contains("--portal <osoite>"), qPrintable(text));
    }

    // The FILES sections name the folder where the program keeps unfinished
    // downloads, under the name the program uses.
    void manualPageSaysWhereDownloadsWait()
    {
        for (const QString page : {"lumora-downloader.1", "rtmpdump-zvb.1"})
            QVERIFY2(manualSection(page, "FILES").contains(StagingFolder::RootName), qPrintable(page));
    }

    // The installed demo command, from a folder with a blank in its path: the
    // portal on ports the system gives, the program told where it is, and the
    // portal gone with the program. The program is a stand-in that searches
    // with wget, as a test cannot work the installed program's window.
    void demoCommand()
    {
        const QString seen = work.filePath("demo seen");
        QVERIFY(QDir().mkpath(seen));
        FakePrograms fakes;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SEEN", seen);
        environment.insert("LUMORA_DEMO_PROGRAM", fakes.addScript(
            "lumora-downloader", "printf '%s\\n' \"$@\" > \"$SEEN/arguments\"\n"
                                 "wget -q -O \"$SEEN/page\" \"${2%%,*}/haku//uusimmat/hakusana/uutiset/media/video\""));
        environment.insert("LUMORA_DEMO_RUN_DIR", work.filePath("demo run"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const QString command = prefix + "/bin/lumora-downloader-demo";
        const Finished demo = runProgram(command, {}, environment, QProcess::MergedChannels);
        QVERIFY2(demo.exitCode == 0, said(demo).constData());

        const QStringList arguments = QString::fromUtf8(readFile(seen + "/arguments")).split(u'\n');
        QCOMPARE(arguments.value(0), "--portal");
        const QStringList addresses = arguments.value(1).split(u',');
        QCOMPARE(addresses.size(), 2);
        QVERIFY(addresses.first().startsWith("http://127.0.0.1:"));
        QVERIFY(addresses.last().startsWith("rtmp://127.0.0.1:"));
        QVERIFY2(!arguments.value(1).contains(":47180") && !arguments.value(1).contains(":47193"),
                 qPrintable(arguments.value(1)));
        QVERIFY(readFile(seen + "/page").count("href=\"/video/") >= 4);
        for (const QString &address : addresses) {
            QTcpSocket socket;
            socket.connectToHost("127.0.0.1", quint16(QUrl(address).port()));
            QVERIFY2(!socket.waitForConnected(2000), qPrintable(address + " still answers"));
        }
    }

    void setupLeavesServicesAsFound_data()
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
    void setupLeavesServicesAsFound()
    {
        QFETCH(QStringList, missing);
        QFETCH(bool, enabledBefore);
        QFETCH(bool, enabledAfter);
        QTemporaryDir state;
        QVERIFY(QDir().mkpath(state.filePath("missing")));
        for (const QString &package : missing)
            QVERIFY(writeFile(state.filePath("missing/" + package)));
        // An enabled service runs, one the user disabled does not.
        QVERIFY(!enabledBefore || (writeFile(state.filePath("enabled")) && writeFile(state.filePath("running"))));
        FakePrograms fakes;
        fakes.addScript("dpkg-query", "[[ ! -e $STATE/missing/${@: -1} ]] && printf 'install ok installed'");
        fakes.addScript("apt-get", "[[ \" $* \" == *' install '* ]] || exit 0\n"
                                   "if [[ \" $* \" == *' nginx-light '* && -e $STATE/missing/nginx-common ]]; then\n"
                                   "    rm \"$STATE/missing/nginx-common\"; touch \"$STATE/enabled\" \"$STATE/running\"\n"
                                   "fi\n"
                                   "for p; do rm -f \"$STATE/missing/$p\"; done");
        fakes.addScript("systemctl", "echo \"$*\" >> \"$STATE/systemctl\"\n"
                                     "case $1 in disable) rm -f \"$STATE/enabled\" ;;\n"
                                     "    stop) rm -f \"$STATE/running\" ;; esac");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("STATE", state.path());
        const Finished setup = runProgram("bash", {LUMORA_SOURCE_DIR "/scripts/setup"}, environment,
                                          QProcess::MergedChannels);
        QVERIFY2(setup.exitCode == 0, said(setup).constData());

        QVERIFY(QDir(state.filePath("missing")).isEmpty());
        QCOMPARE(QFile::exists(state.filePath("enabled")), enabledAfter);
        QCOMPARE(QFile::exists(state.filePath("running")), enabledAfter);
        // A nginx that was there before is never so much as asked about.
        QCOMPARE(QFile::exists(state.filePath("systemctl")), missing.contains("nginx-common"));
    }

    // What `cmake --install` puts in place must be exactly what the package carries.
    void packageHoldsTheInstalledTree()
    {
        QCOMPARE(entriesBelow(root + "/usr", QDir::Files), entriesBelow(prefix, QDir::Files));
    }

    // Checks the metainfo against the launcher and icon the package really carries.
    void softwareCentresFindTheLauncher()
    {
        const Finished validate = run("appstreamcli", {"validate-tree", "--no-net", root});
        QVERIFY2(validate.exitCode == 0, said(validate).constData());
    }

    void packageFields()
    {
        QCOMPARE(fields.value("Package"), "lumora-downloader");
        QCOMPARE(fields.value("Version"), LUMORA_VERSION);
        QVERIFY(!fields.value("Maintainer").isEmpty());
    }

    void packageDependencies_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("dependency");
        for (const char *name : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins",
                                 "qt6-translations-l10n", "ffmpeg", "wget", "rtmpdump"})
            QTest::newRow(name) << "Depends" << name;
        QTest::newRow("qt6-wayland") << "Recommends" << "qt6-wayland";
    }
    void packageDependencies()
    {
        QFETCH(QString, field);
        QFETCH(QString, dependency);
        QSet<QString> names;
        const auto clauses = fields.value(field).split(u',');
        for (const QString &clause : clauses)
            names.insert(clause.trimmed().section(u' ', 0, 0));
        QVERIFY2(names.contains(dependency), qPrintable(fields.value(field)));
    }

    // Errors, warnings and the informational tags alike.
    void lintianFindsNothing()
    {
        const Finished lintian = run("lintian", {"--display-info", package});
        static const QRegularExpression tag(QStringLiteral("^[A-Z]: "), QRegularExpression::MultilineOption);
        QVERIFY2(lintian.exitCode == 0 && !QString::fromUtf8(lintian.out).contains(tag), said(lintian).constData());
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"

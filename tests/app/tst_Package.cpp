#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

// The Debian package and the desktop files, checked by the tools the ecosystem judges them
// with: the package is built from this tree, listed, unpacked and started, and lintian,
// appstreamcli and desktop-file-validate have their say.
class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString deb;
    QString root;   // where the package was unpacked

    struct Run
    {
        int code = -1;
        QByteArray out;   // standard output and error together
    };

    static Run run(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        Run result;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            result.out = "timed out: " + process.readAll();
            return result;
        }
        result.out = process.readAll();
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return result;
    }

    static QString tool(const char *name)
    {
        const QString path = QStandardPaths::findExecutable(QLatin1String(name));
        if (path.isEmpty())
            qWarning("%s is not installed: ./scripts/deps installs it", name);
        return path;
    }

    static QString source(const QString &relative) { return QStringLiteral(QUILLMOOR_SOURCE_DIR "/") + relative; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        for (const char *name : {"cpack", "dpkg-deb", "dpkg", "lintian", "appstreamcli", "desktop-file-validate"})
            QVERIFY2(!tool(name).isEmpty(), name);
        const Run architecture = run(QStringLiteral("dpkg"), {"--print-architecture"});
        QCOMPARE(architecture.code, 0);
        const Run built = run(tool("cpack"), {"-G", "DEB", "--config", QStringLiteral(QUILLMOOR_BUILD_DIR "/CPackConfig.cmake"),
                                               "-B", work.filePath("out")});
        QVERIFY2(built.code == 0, built.out.constData());
        deb = work.filePath(QStringLiteral("out/quillmoor_%1_%2.deb").arg(QStringLiteral(QUILLMOOR_VERSION),
                                                                           QString::fromUtf8(architecture.out.trimmed())));
        QVERIFY2(QFileInfo::exists(deb), qPrintable(deb + " missing:\n" + QString::fromUtf8(built.out)));
        root = work.filePath(QStringLiteral("root"));
        const Run unpacked = run(tool("dpkg-deb"), {"-x", deb, root});
        QVERIFY2(unpacked.code == 0, unpacked.out.constData());
    }

    // What is installed, and only that: everything under /usr, nothing from the tests,
    // benchmarks or developer tools.
    void fileList()
    {
        const Run listed = run(tool("dpkg-deb"), {"-c", deb});
        QCOMPARE(listed.code, 0);
        QStringList files;
        for (const QByteArray &line : listed.out.split('\n')) {
            if (line.isEmpty() || line.startsWith('d'))
                continue;
            files << QString::fromUtf8(line.mid(line.lastIndexOf(' ') + 1));
        }
        files.sort();
        const QStringList expected{
            "./usr/bin/quillmoor",
            "./usr/bin/quillmoor-exporter",
            "./usr/lib/systemd/user/quillmoor-exporter.service",
            "./usr/libexec/quillmoor/quillmoor-memory-purge",
            "./usr/share/applications/io.github.quillmoor.Quillmoor.desktop",
            "./usr/share/doc/quillmoor/changelog.gz",
            "./usr/share/doc/quillmoor/copyright",
            "./usr/share/icons/hicolor/scalable/apps/quillmoor.svg",
            "./usr/share/man/man1/quillmoor-exporter.1.gz",
            "./usr/share/man/man1/quillmoor.1.gz",
            "./usr/share/metainfo/io.github.quillmoor.Quillmoor.metainfo.xml",
            "./usr/share/polkit-1/actions/org.quillmoor.memory-purge.policy",
        };
        QCOMPARE(files, expected);
    }

    // Libraries come from dpkg-shlibdeps; the QML modules, loaded at run time, are named;
    // optional features are recommended, container tools are not.
    void control()
    {
        const Run fields = run(tool("dpkg-deb"), {"-f", deb, "Depends", "Recommends", "Maintainer", "Description"});
        QCOMPARE(fields.code, 0);
        const QString text = QString::fromUtf8(fields.out);
        for (const char *needed : {"libqt6core6", "libqt6quick6", "libc6", "qml6-module-qtquick-controls",
                                   "qml6-module-qtquick-layouts", "qml6-module-qtqml-workerscript"})
            QVERIFY2(text.contains(QLatin1String(needed)), needed);
        const QString recommends = QRegularExpression(QStringLiteral("Recommends: (.*)")).match(text).captured(1);
        for (const char *optional : {"power-profiles-daemon", "udisks2", "man-db", "iputils-ping"})
            QVERIFY2(recommends.contains(QLatin1String(optional)), optional);
        for (const char *container : {"docker", "podman", "colima"})
            QVERIFY2(!text.contains(QLatin1String(container)), container);
        QVERIFY(QRegularExpression(QStringLiteral("Maintainer: .+ <[^@ ]+@[^@ ]+>")).match(text).hasMatch());
    }

    // The unpacked programs run: the app starts offscreen and quits on SIGTERM as its Quit
    // does; the exporter prints a sample.
    void installedProgramsRun()
    {
        const Run version = run(root + QStringLiteral("/usr/bin/quillmoor-exporter"), {"--version"});
        QCOMPARE(version.code, 0);
        QVERIFY2(version.out.contains(QUILLMOOR_VERSION), version.out.constData());

        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("OLLAMA_HOST"), QStringLiteral("127.0.0.1:9"));
        QProcess once;
        once.setProcessEnvironment(env);
        once.start(root + QStringLiteral("/usr/bin/quillmoor-exporter"), {"--once", "--format", "prometheus"});
        QVERIFY(once.waitForFinished(30000));
        QCOMPARE(once.exitCode(), 0);
        QVERIFY(once.readAllStandardOutput().contains("quillmoor_memory_total_bytes"));

        // The app asks an address service for the public address: in a network namespace of
        // its own nothing leaves the machine. unshare execs the app, so the signal reaches it.
        if (run(QStringLiteral("unshare"), {"-rn", "true"}, 5000).code != 0)
            QSKIP("no network namespace can be made here (unshare -rn) to start the app in");
        QProcess app;
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(QStringLiteral("unshare"), {"-rn", "--", root + QStringLiteral("/usr/bin/quillmoor")});
        QVERIFY(app.waitForStarted(10000));
        QTest::qWait(2000);
        QVERIFY2(app.state() == QProcess::Running, app.readAll().constData());
        app.terminate();
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(app.exitCode() == 0, app.readAll().constData());
    }

    // polkit runs the helper from the packaged path only, and asks for an administrator
    // except in an active session, where the answer is kept a while.
    void polkitPolicy()
    {
        QFile policy(root + QStringLiteral("/usr/share/polkit-1/actions/org.quillmoor.memory-purge.policy"));
        QVERIFY(policy.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&policy);
        QMap<QString, QString> found;
        QString annotation;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QString name = xml.name().toString();
            if (name == QLatin1String("allow_any") || name == QLatin1String("allow_inactive") || name == QLatin1String("allow_active"))
                found[name] = xml.readElementText();
            else if (name == QLatin1String("annotate")
                     && xml.attributes().value(QLatin1String("key")) == QLatin1String("org.freedesktop.policykit.exec.path"))
                annotation = xml.readElementText();
            else if (name == QLatin1String("action"))
                QCOMPARE(xml.attributes().value(QLatin1String("id")).toString(), QStringLiteral("org.quillmoor.memory-purge"));
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(found.value(QStringLiteral("allow_any")), QStringLiteral("auth_admin"));
        QCOMPARE(found.value(QStringLiteral("allow_inactive")), QStringLiteral("auth_admin"));
        QCOMPARE(found.value(QStringLiteral("allow_active")), QStringLiteral("auth_admin_keep"));
        QCOMPARE(annotation, QStringLiteral("/usr/libexec/quillmoor/quillmoor-memory-purge"));
        QVERIFY(QFileInfo(root + annotation).isExecutable());
    }

    // lintian: no error. Its warnings, if any, are printed for the record.
    void lintianHasNoError()
    {
        const Run checked = run(tool("lintian"), {"--tag-display-limit", "0", deb}, 300000);
        for (const QByteArray &line : checked.out.split('\n'))
            if (line.startsWith("W:") || line.startsWith("E:"))
                qInfo("%s", line.constData());
        QVERIFY2(checked.code == 0 && !checked.out.contains("\nE:") && !checked.out.startsWith("E:"), checked.out.constData());
    }

    void desktopFilesValidate()
    {
        const Run metainfo = run(tool("appstreamcli"), {"validate", "--no-net", "--explain",
                                                        source(QStringLiteral("data/io.github.quillmoor.Quillmoor.metainfo.xml"))});
        QVERIFY2(metainfo.code == 0, metainfo.out.constData());
        QVERIFY2(!metainfo.out.contains("E:") && !metainfo.out.contains("W:"), metainfo.out.constData());
        // No error, and no hint either (a second main category would list the app twice).
        const Run entry = run(tool("desktop-file-validate"), {source(QStringLiteral("data/io.github.quillmoor.Quillmoor.desktop"))});
        QVERIFY2(entry.code == 0 && entry.out.trimmed().isEmpty(), entry.out.constData());
        // The packaged copies are the ones checked here.
        for (const char *file : {"share/applications/io.github.quillmoor.Quillmoor.desktop",
                                 "share/metainfo/io.github.quillmoor.Quillmoor.metainfo.xml"}) {
            QFile packaged(root + QStringLiteral("/usr/") + QLatin1String(file));
            QFile original(source(QStringLiteral("data/") + QFileInfo(QLatin1String(file)).fileName()));
            QVERIFY(packaged.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
            QCOMPARE(packaged.readAll(), original.readAll());
        }
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_Package.moc"

#include "support/LaunchAtLoginManager.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestLaunchAtLoginManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString config;
    QString executable;

    QString makeExecutable(const QString &relative)
    {
        const QString path = dir->filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString entry() const { return config + QStringLiteral("/autostart/quillmoor.desktop"); }
    void writeEntry(const QByteArray &text) const
    {
        QDir().mkpath(config + QStringLiteral("/autostart"));
        QFile file(entry());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    std::unique_ptr<LaunchAtLoginManager> manager() const
    {
        return std::make_unique<LaunchAtLoginManager>(LaunchAtLoginSources{config, executable});
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        config = dir->filePath(QStringLiteral("config"));
        executable = makeExecutable(QStringLiteral("prefix/bin/quillmoor"));
        QVERIFY(!executable.isEmpty());
    }

    void registersAndUnregisters()
    {
        auto login = manager();
        QVERIFY(!login->isEnabled());
        QSignalSpy logged(login.get(), &LaunchAtLoginManager::logged);

        login->setIsEnabled(true);
        QCOMPARE(logged.count(), 1);
        QCOMPARE(logged.at(0).at(0).toString(), QStringLiteral("Successfully registered Launch at Login"));
        QFile file(entry());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QCOMPARE(text, LaunchAtLoginManager::entryFor(executable));
        QVERIFY(text.contains("\nExec=" + executable.toUtf8() + "\n"));
        QVERIFY(text.contains("\nX-GNOME-Autostart-enabled=true\n"));
        QCOMPARE(login->status(), LaunchAtLoginManager::Status::Enabled);

        // Already as asked: nothing is called, nothing logged.
        login->setIsEnabled(true);
        login->refreshStatus();
        QCOMPARE(logged.count(), 1);
        QVERIFY(manager()->isEnabled());   // a new instance reads the desktop's state

        login->setIsEnabled(false);
        QCOMPARE(logged.count(), 2);
        QCOMPARE(logged.at(1).at(0).toString(), QStringLiteral("Successfully unregistered Launch at Login"));
        QVERIFY(!QFile::exists(entry()));
        login->setIsEnabled(false);
        QCOMPARE(logged.count(), 2);
    }

    void judgesEntriesItDidNotWrite()
    {
        using Status = LaunchAtLoginManager::Status;
        const QByteArray ours = "[Desktop Entry]\nType=Application\nExec=" + executable.toUtf8() + " --tray\n";
        writeEntry(ours + "Hidden=true\n");
        QCOMPARE(manager()->status(), Status::Disabled);
        writeEntry(ours + "X-GNOME-Autostart-enabled=false\n");
        QCOMPARE(manager()->status(), Status::Disabled);
        writeEntry("[Desktop Entry]\nType=Application\nExec=" + makeExecutable("other/bin/someone-else").toUtf8() + "\n");
        QCOMPARE(manager()->status(), Status::NotOurs);
        writeEntry("[Desktop Entry]\nType=Application\nExec=" + dir->filePath("gone/quillmoor").toUtf8() + "\n");
        QCOMPARE(manager()->status(), Status::NotOurs);
        writeEntry("[Other Group]\nExec=" + executable.toUtf8() + "\n[Desktop Entry]\nType=Application\n");
        QCOMPARE(manager()->status(), Status::NotOurs);
        writeEntry("# comment\n[Desktop Entry]\nType=Application\nHidden=false\nExec=" + executable.toUtf8() + "\n");
        QCOMPARE(manager()->status(), Status::Enabled);

        // Switched off by the desktop: turning off calls nothing and the entry stays;
        // turning on writes ours over it.
        writeEntry(ours + "Hidden=true\n");
        auto login = manager();
        QVERIFY(!login->isEnabled());
        QSignalSpy logged(login.get(), &LaunchAtLoginManager::logged);
        login->setIsEnabled(false);
        QCOMPARE(logged.count(), 0);
        QVERIFY(QFile::exists(entry()));
        login->setIsEnabled(true);
        QCOMPARE(logged.count(), 1);
        QCOMPARE(login->status(), Status::Enabled);
    }

    void quotesAwkwardPaths()
    {
        executable = makeExecutable(QStringLiteral("My Apps/100% $HOME \"q\"/quillmoor"));
        QVERIFY(!executable.isEmpty());
        QCOMPARE(LaunchAtLoginManager::quotedExecArgument(QStringLiteral("/opt/a b/quillmoor")),
                 QStringLiteral("\"/opt/a b/quillmoor\""));
        QCOMPARE(LaunchAtLoginManager::quotedExecArgument(QStringLiteral("/opt/a\"b$/x")),
                 QStringLiteral("\"/opt/a\\\\\"b\\\\$/x\""));
        QCOMPARE(LaunchAtLoginManager::quotedExecArgument(QStringLiteral("/opt/50%/x")), QStringLiteral("/opt/50%%/x"));
        auto login = manager();
        login->setIsEnabled(true);
        // What was written reads back as this very program.
        QCOMPARE(login->status(), LaunchAtLoginManager::Status::Enabled);
        QVERIFY(login->isEnabled());
    }

    void aFailedRegistrationTurnsTheSwitchBack()
    {
        // The autostart folder cannot be made: a file has its name.
        QDir().mkpath(config);
        QFile blocker(config + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto login = manager();
        QSignalSpy logged(login.get(), &LaunchAtLoginManager::logged);
        QSignalSpy changed(login.get(), &LaunchAtLoginManager::isEnabledChanged);
        login->setIsEnabled(true);
        QCOMPARE(logged.count(), 1);
        QVERIFY(logged.at(0).at(0).toString().startsWith(QStringLiteral("Failed to register Launch at Login: ")));
        QVERIFY(!login->isEnabled());
        QCOMPARE(changed.count(), 2);   // on as asked, then back

        // The entry's own name is taken by a folder: the file cannot be written.
        QVERIFY(QFile::remove(config + QStringLiteral("/autostart")));
        QVERIFY(QDir().mkpath(entry()));
        logged.clear();
        login->setIsEnabled(true);
        QCOMPARE(logged.count(), 1);
        QVERIFY(logged.at(0).at(0).toString().startsWith(QStringLiteral("Failed to register Launch at Login: ")));
        QVERIFY(!login->isEnabled());
        QVERIFY(QFileInfo(entry()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLoginManager)
#include "tst_LaunchAtLoginManager.moc"

#include "app/Preferences.h"
#include "support/AutoUpdater.h"
#include "support/FakeHttpServer.h"
#include "support/StdoutCapture.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Manifests written with single quotes, which raw strings holding "//" would need.
QByteArray json(const char *singleQuoted) { return QByteArray(singleQuoted).replace('\'', '"'); }
}

class TestAutoUpdater : public QObject
{
    Q_OBJECT

    static void check(AutoUpdater &updater)
    {
        QSignalSpy finished(&updater, &AutoUpdater::checkFinished);
        updater.checkForUpdates();
        QVERIFY(updater.isChecking() || finished.count() == 1);
        QVERIFY(finished.count() == 1 || finished.wait(10000));
        QVERIFY(!updater.isChecking());
    }

private Q_SLOTS:
    void comparesVersionsNumerically_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("digit runs by value") << "1.10.0" << "1.9.2" << 1;
        QTest::newRow("prefix first") << "2.0" << "2.0.0" << -1;
        QTest::newRow("equal") << "1.0.0" << "1.0.0" << 0;
        QTest::newRow("leading zeros") << "1.010" << "1.10" << 0;
        QTest::newRow("suffix after") << "1.0.0-beta" << "1.0.0" << 1;
        QTest::newRow("letters by code") << "1.a" << "1.b" << -1;
        QTest::newRow("beyond 64 bits") << "99999999999999999999" << "100000000000000000000" << -1;
        QTest::newRow("empty") << "" << "0" << -1;
    }

    void comparesVersionsNumerically()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(AutoUpdater::compareVersions(a, b), order);
        QCOMPARE(AutoUpdater::compareVersions(b, a), -order);
    }

    void readsEachManifest_data()
    {
        QTest::addColumn<QString>("running");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("error");
        const QString parse = QStringLiteral("Failed to parse update information");
        QTest::newRow("newer by value") << "1.9.2" << json("{'version':'1.10.0','download_url':'https://q.example/d','release_notes':'Faster.'}") << true << "";
        QTest::newRow("same") << "1.10.0" << json("{'version':'1.10.0','download_url':'https://q.example/d'}") << false << "";
        QTest::newRow("older") << "2.0.0" << json("{'version':'1.10.0','download_url':'https://q.example/d'}") << false << "";
        QTest::newRow("running a prefix") << "2.0" << json("{'version':'2.0.0','download_url':'https://q.example/d'}") << true << "";
        QTest::newRow("no notes") << "1.0.0" << json("{'version':'1.1','download_url':'https://q.example/d','x':1}") << true << "";
        QTest::newRow("notes a number") << "1.0.0" << json("{'version':'1.1','download_url':'https://q.example/d','release_notes':3}") << true << "";
        QTest::newRow("url a number") << "1.0.0" << json("{'version':'9','download_url':7}") << false << parse;
        QTest::newRow("no url") << "1.0.0" << json("{'version':'9'}") << false << parse;
        QTest::newRow("relative url") << "1.0.0" << json("{'version':'9','download_url':'/d'}") << false << parse;
        QTest::newRow("file url") << "1.0.0" << json("{'version':'9','download_url':'file:///etc/passwd'}") << false << parse;
        QTest::newRow("version a number") << "1.0.0" << json("{'version':9,'download_url':'https://q.example/d'}") << false << parse;
        QTest::newRow("an array") << "1.0.0" << json("[{'version':'9'}]") << false << parse;
        QTest::newRow("not JSON") << "1.0.0" << QByteArray("<html>portal</html>") << false << parse;
    }

    void readsEachManifest()
    {
        QFETCH(QString, running);
        QFETCH(QByteArray, body);
        QFETCH(bool, available);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.reply(200, body);
        AutoUpdater updater(UpdaterSources{server.url(), running, 5000});
        check(updater);
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests().at(0).method, QByteArray("GET"));
        QCOMPARE(server.requests().at(0).path, QByteArray("/api/quillmoor-version"));
        QCOMPARE(updater.updateAvailable(), available);
        QCOMPARE(updater.errorMessage(), error);
        QCOMPARE(updater.hasChecked(), error.isEmpty());
        if (available) {
            QCOMPARE(updater.downloadURL(), QUrl(QStringLiteral("https://q.example/d")));
            QVERIFY(!updater.latestVersion().isEmpty());
            QCOMPARE(updater.releaseNotes().isNull(), !body.contains("Faster."));
        } else {
            QVERIFY(updater.latestVersion().isNull());
        }
    }

    void reportsServerAndTransportFailures()
    {
        FakeHttpServer server;
        server.reply(200, json("{'version':'9.0','download_url':'https://q.example/9'}"));
        AutoUpdater updater(UpdaterSources{server.url(), QStringLiteral("1.0"), 300});
        check(updater);
        QVERIFY(updater.updateAvailable());

        // Failures keep what the last good check found.
        for (int status : {404, 503}) {
            server.reply(status, "{}");
            check(updater);
            QCOMPARE(updater.errorMessage(), QStringLiteral("Update server returned code %1").arg(status));
            QVERIFY(updater.updateAvailable());
            QCOMPARE(updater.latestVersion(), QStringLiteral("9.0"));
        }

        server.reply(200, "{}");
        server.setDelay(3000);   // longer than the 300 ms this updater waits
        StdoutCapture out;
        check(updater);
        QCOMPARE(updater.errorMessage(), QStringLiteral("Update check failed. Please check your internet connection."));
        QVERIFY(out.text().startsWith("Auto-update check failed: "));
        QVERIFY(updater.updateAvailable());

        // The next good check clears the message.
        server.setDelay(0);
        server.reply(200, json("{'version':'9.0','download_url':'https://q.example/9'}"));
        check(updater);
        QCOMPARE(updater.errorMessage(), QString());
    }

    void aSecondCallWhileCheckingSendsNothing()
    {
        FakeHttpServer server;
        server.reply(200, json("{'version':'2','download_url':'https://q.example/2'}"));
        server.setDelay(200);
        AutoUpdater updater(UpdaterSources{server.url(), QStringLiteral("1"), 5000});
        QSignalSpy finished(&updater, &AutoUpdater::checkFinished);
        updater.checkForUpdates();
        updater.checkForUpdates();
        QVERIFY(finished.wait(5000));
        QTest::qWait(300);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(server.requests().size(), 1);
    }

    void acceptsOnlySafeServers()
    {
        QCOMPARE(AutoUpdater::endpointFor(QUrl(QStringLiteral("https://updates.example"))),
                 QUrl(QStringLiteral("https://updates.example/api/quillmoor-version")));
        QCOMPARE(AutoUpdater::endpointFor(QUrl(QStringLiteral("https://updates.example/"))).path(),
                 QStringLiteral("/api/quillmoor-version"));
        QVERIFY(AutoUpdater::endpointFor(QUrl(QStringLiteral("http://[::1]:8080"))).isValid());
        for (const char *refused : {"http://updates.example", "ftp://updates.example", "https://updates.example/other",
                                    "https://updates.example?x=1", "not a url", ""}) {
            QVERIFY2(!AutoUpdater::endpointFor(QUrl(QLatin1String(refused))).isValid(), refused);
        }
        AutoUpdater updater(UpdaterSources{QUrl(QStringLiteral("http://updates.example")), {}, 5000});
        QCOMPARE(updater.runningVersion(), QStringLiteral(QUILLMOOR_VERSION));
        check(updater);
        QCOMPARE(updater.errorMessage(), QStringLiteral("Invalid update server URL"));
        QVERIFY(!updater.hasChecked());

        // The settings file may name another host; otherwise the build's own.
        QTemporaryDir dir;
        Preferences preferences(new QSettings(dir.filePath(QStringLiteral("p.conf")), QSettings::IniFormat));
        QCOMPARE(AutoUpdater::serverFor(preferences.updateServerURL()).scheme(), QStringLiteral("https"));
        preferences.setUpdateServerURL(QStringLiteral(" https://mirror.example "));
        QCOMPARE(AutoUpdater::serverFor(preferences.updateServerURL()), QUrl(QStringLiteral("https://mirror.example")));
    }
};

QTEST_GUILESS_MAIN(TestAutoUpdater)
#include "tst_AutoUpdater.moc"

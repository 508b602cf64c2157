#include "app/Preferences.h"
#include "support/AutoUpdater.h"
#include "support/FakeHttpServer.h"
#include "support/StdoutCapture.h"
#include "support/StreamingHttpServer.h"

#include <QElapsedTimer>
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
        QTest::newRow("no notes") << "1.0.0" << json("{'version':'1.1.0','download_url':'https://q.example/d','x':1}") << true << "";
        QTest::newRow("notes a number") << "1.0.0" << json("{'version':'1.1.0','download_url':'https://q.example/d','release_notes':3}") << true << "";
        // Only major.minor.patch in digits is a release: a NUL, a suffix or a sign is not.
        QTest::newRow("version with NUL") << "1.0.0" << QByteArray("{\"version\":\"9.0.0\\u0000\",\"download_url\":\"https://q.example/d\"}") << false << parse;
        QTest::newRow("version with suffix") << "1.0.0" << json("{'version':'9.0.0-rc1','download_url':'https://q.example/d'}") << false << parse;
        QTest::newRow("version two parts") << "1.0.0" << json("{'version':'9.0','download_url':'https://q.example/d'}") << false << parse;
        QTest::newRow("version signed") << "1.0.0" << json("{'version':'+9.0.0','download_url':'https://q.example/d'}") << false << parse;
        QTest::newRow("url a number") << "1.0.0" << json("{'version':'9.0.0','download_url':7}") << false << parse;
        QTest::newRow("no url") << "1.0.0" << json("{'version':'9.0.0'}") << false << parse;
        QTest::newRow("relative url") << "1.0.0" << json("{'version':'9.0.0','download_url':'/d'}") << false << parse;
        QTest::newRow("file url") << "1.0.0" << json("{'version':'9.0.0','download_url':'file:///etc/passwd'}") << false << parse;
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
        // The parser alone takes exactly the manifests the check takes.
        QCOMPARE(AutoUpdater::parseManifest(body).has_value(), error.isEmpty());
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
        const QByteArray good = json("{'version':'9.0.0','download_url':'https://q.example/9','release_notes':'New.'}");
        server.reply(200, good);
        AutoUpdater updater(UpdaterSources{server.url(), QStringLiteral("1.0.0"), 300});
        check(updater);
        QVERIFY(updater.updateAvailable());

        // A failed check does not leave the last one's release showing beside its error.
        for (int status : {404, 503}) {
            server.reply(status, "{}");
            check(updater);
            QCOMPARE(updater.errorMessage(), QStringLiteral("Update server returned code %1").arg(status));
            QVERIFY(!updater.updateAvailable());
            QVERIFY(updater.latestVersion().isNull());
            QVERIFY(updater.downloadURL().isEmpty());
            QVERIFY(updater.releaseNotes().isNull());
            server.reply(200, good);
            check(updater);
            QVERIFY(updater.updateAvailable());
        }

        server.reply(200, "{}");
        server.setDelay(3000);   // longer than the 300 ms this updater waits
        StdoutCapture out;
        check(updater);
        QCOMPARE(updater.errorMessage(), QStringLiteral("Update check failed. Please check your internet connection."));
        QVERIFY(out.text().startsWith("Auto-update check failed: "));
        QVERIFY(!updater.updateAvailable());

        // The next good check clears the message.
        server.setDelay(0);
        server.reply(200, good);
        check(updater);
        QCOMPARE(updater.errorMessage(), QString());
        QVERIFY(updater.updateAvailable());
    }

    // A reply that will not end, or grows past any manifest, is cut off by size or by the
    // one deadline, which a trickle of bytes does not push back; a redirect to another host
    // is refused, one on the same host followed.
    void boundedAnswers()
    {
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
        StreamingHttpServer endless({head, -1});
        AutoUpdater big(UpdaterSources{endless.url(), QStringLiteral("1.0.0"), 3000});
        QElapsedTimer clock;
        clock.start();
        check(big);
        QCOMPARE(big.errorMessage(), QStringLiteral("Update information too large"));
        QVERIFY(endless.sent() > AutoUpdater::kMaxManifestBytes);
        QVERIFY(clock.elapsed() < 3000);

        // One byte every 50 ms keeps the transfer alive but never finishes it in time.
        StreamingHttpServer trickle({head, -1, false, 50, 1});
        AutoUpdater waiting(UpdaterSources{trickle.url(), QStringLiteral("1.0.0"), 500});
        clock.restart();
        check(waiting);
        QCOMPARE(waiting.errorMessage(), QStringLiteral("Update check failed. Please check your internet connection."));
        QVERIFY(trickle.sent() > 0);
        QVERIFY(clock.elapsed() < 2000);

        StreamingHttpServer away({"HTTP/1.1 302 Found\r\nLocation: https://elsewhere.example/api/quillmoor-version\r\n"
                                  "Content-Length: 0\r\n\r\n"});
        AutoUpdater redirected(UpdaterSources{away.url(), QStringLiteral("1.0.0"), 3000});
        check(redirected);
        QCOMPARE(redirected.errorMessage(), QStringLiteral("Update server redirected to another host"));

        FakeHttpServer target;
        target.reply(200, json("{'version':'9.0.0','download_url':'https://q.example/9'}"));
        StreamingHttpServer otherPort({"HTTP/1.1 301 Moved\r\nLocation: " + target.url().toString().toUtf8()
                                       + "/api/quillmoor-version\r\nContent-Length: 0\r\n\r\n"});
        AutoUpdater elsewhere(UpdaterSources{otherPort.url(), QStringLiteral("1.0.0"), 3000});
        check(elsewhere);
        QCOMPARE(elsewhere.errorMessage(), QStringLiteral("Update server redirected to another host"));
        QVERIFY(target.requests().isEmpty());
    }

    void aSecondCallWhileCheckingSendsNothing()
    {
        FakeHttpServer server;
        server.reply(200, json("{'version':'2.0.0','download_url':'https://q.example/2'}"));
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

#include "app/Preferences.h"
#include "platform/InterfaceAddressReader.h"
#include "platform/IcmpPinger.h"
#include "support/FakeHttpServer.h"
#include "support/FixtureTree.h"
#include "support/ProcNetTcp.h"
#include "support/StdoutCapture.h"
#include "support/StreamingHttpServer.h"
#include "telemetry/PingService.h"
#include "telemetry/SystemStatsProvider.h"

#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QDir>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {
QByteArray v4(const char *local, quint16 localPort, const char *remote, quint16 remotePort, unsigned long inode,
              const char *state = "01", int slot = 0)
{
    return ProcNetTcp::line(slot, ProcNetTcp::endpoint(QString::fromLatin1(local), localPort).constData(),
                            ProcNetTcp::endpoint(QString::fromLatin1(remote), remotePort).constData(), state, inode);
}

SocketEntry entry(bool ipv6, const char *local, int localPort, const char *remote, int remotePort, int state = 1,
                  std::uint64_t inode = 1)
{
    SocketEntry e;
    e.ipv6 = ipv6;
    e.localAddress = local;
    e.localPort = localPort;
    e.remoteAddress = remote;
    e.remotePort = remotePort;
    e.state = state;
    e.inode = inode;
    return e;
}

void writeScript(const QString &path, const QByteArray &body)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}
}

class TestConnections : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;

    std::unique_ptr<SystemStatsProvider> makeProvider(const QUrl &publicUrl = {},
                                                      std::vector<InterfaceAddress> addresses = {})
    {
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        sources.publicAddressUrl = publicUrl;
        sources.interfaceAddresses = [addresses] { return addresses; };
        auto stats = std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
        // As the network page does: connections are listed only while watched, and the
        // first watcher's scan comes at once.
        QSignalSpy first(stats.get(), &SystemStatsProvider::connectionsScanned);
        stats->watchConnections(true);
        first.wait(5000);
        return stats;
    }

    void socketLink(int pid, int fd, unsigned long inode)
    {
        const QString dir = tree->path(QStringLiteral("proc/%1/fd").arg(pid));
        QDir().mkpath(dir);
        const QByteArray target = "socket:[" + QByteArray::number(qulonglong(inode)) + ']';
        QVERIFY(::symlink(target.constData(), QFile::encodeName(dir + QStringLiteral("/%1").arg(fd)).constData()) == 0);
    }

    static QList<ActiveConnection> scan(SystemStatsProvider &stats)
    {
        QSignalSpy scanned(&stats, &SystemStatsProvider::connectionsScanned);
        stats.updateStats();
        if (!scanned.wait(5000))
            return {};
        return stats.activeConnections();
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        tree->mkdir("proc/net");
        tree->mkdir("sys");
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    void rowsFilterLoopbackOnEitherEnd()
    {
        const std::vector<SocketEntry> entries{
            entry(false, "192.168.1.5", 50000, "93.184.216.34", 443, 1, 11),
            entry(false, "127.0.0.1", 40000, "127.0.0.1", 11434),
            entry(true, "::1", 40001, "::1", 5432),
            entry(false, "192.168.1.5", 40002, "127.0.0.1", 8080),        // remote end only
            entry(true, "::ffff:127.0.0.1", 40003, "::ffff:127.0.0.1", 80),
            entry(false, "192.168.1.5", 40004, "93.184.216.34", 443, 0x0A),   // listening, not established
            // Not loopback, though the bare text holds "127.0.0.1" or "::1".
            entry(false, "10.127.0.1", 50001, "192.127.0.10", 22, 1, 12),
            entry(true, "2001:db8::5", 50002, "2606:4700::1111", 443, 1, 13),
        };
        const std::unordered_map<std::uint64_t, std::pair<int, QString>> owners{{11, {4242, QStringLiteral("firefox")}}};
        const QList<ActiveConnection> rows = ConnectionScanner::rows(entries, owners);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], (ActiveConnection{QStringLiteral("192.168.1.5:50000->93.184.216.34:443"), QStringLiteral("ESTABLISHED"),
                                            QStringLiteral("firefox"), QStringLiteral("4242")}));
        QCOMPARE(rows[1].remote, QStringLiteral("10.127.0.1:50001->192.127.0.10:22"));
        QCOMPARE(rows[1].processName, QStringLiteral("?"));   // an owner this user cannot see
        QCOMPARE(rows[1].pid, QStringLiteral("0"));
        QCOMPARE(rows[2].remote, QStringLiteral("[2001:db8::5]:50002->[2606:4700::1111]:443"));
    }

    void scanFindsOwnersAndKeepsFifteen()
    {
        QByteArray tcp = ProcNetTcp::kHeader;
        for (int i = 0; i < 20; ++i)
            tcp += v4("192.168.1.5", quint16(50000 + i), "93.184.216.34", 443, 7000 + i, "01", i);
        tcp += v4("127.0.0.1", 41000, "127.0.0.1", 11434, 8000);
        tree->write("proc/net/tcp", tcp);
        tree->write("proc/net/tcp6", ProcNetTcp::kHeader
                    + ProcNetTcp::line(0, ProcNetTcp::endpoint(QStringLiteral("2001:db8::5"), 51000).constData(),
                                       ProcNetTcp::endpoint(QStringLiteral("2606:4700::1111"), 443).constData(), "01", 9000));
        tree->write("proc/321/comm", "curl\n");
        socketLink(321, 3, 7000);
        socketLink(321, 4, 7014);
        tree->write("proc/654/comm", "ssh\n");
        socketLink(654, 5, 7001);

        auto stats = makeProvider();
        const QList<ActiveConnection> rows = scan(*stats);
        QCOMPARE(rows.size(), ConnectionScanner::kMaxConnections);
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i].remote, QStringLiteral("192.168.1.5:%1->93.184.216.34:443").arg(50000 + i));
        QCOMPARE(rows[0].processName, QStringLiteral("curl"));
        QCOMPARE(rows[0].pid, QStringLiteral("321"));
        QCOMPARE(rows[1].processName, QStringLiteral("ssh"));
        QCOMPARE(rows[14].processName, QStringLiteral("curl"));
        QCOMPARE(rows[2].processName, QStringLiteral("?"));

        // Owners found once are remembered: the next scan needs no walk for them.
        QVERIFY(QDir(tree->path("proc/654")).removeRecursively());
        QCOMPARE(scan(*stats).value(1).processName, QStringLiteral("ssh"));

        // Only the header: the placeholder row.
        tree->write("proc/net/tcp", ProcNetTcp::kHeader);
        tree->write("proc/net/tcp6", ProcNetTcp::kHeader);
        const QList<ActiveConnection> idle = scan(*stats);
        QCOMPARE(idle, QList<ActiveConnection>{ConnectionScanner::placeholder()});
        QCOMPARE(idle[0].remote, QStringLiteral("No external connections"));
        QCOMPARE(idle[0].status, QStringLiteral("IDLE"));
    }

    // A listing that fails (the table cannot be read) is no news about the connections:
    // the rows shown stay until a listing gets through again.
    void failedListingKeepsTheRows()
    {
        tree->write("proc/net/tcp", ProcNetTcp::kHeader + v4("192.168.1.5", 50000, "93.184.216.34", 443, 9000));
        tree->write("proc/321/comm", "curl\n");
        socketLink(321, 3, 9000);
        auto stats = makeProvider();
        const QList<ActiveConnection> good = scan(*stats);
        QCOMPARE(good.size(), 1);
        QCOMPARE(good[0].remote, QStringLiteral("192.168.1.5:50000->93.184.216.34:443"));
        QCOMPARE(good[0].processName, QStringLiteral("curl"));

        // A folder where the table was: opening it works, reading it does not.
        tree->remove("proc/net/tcp");
        tree->mkdir("proc/net/tcp");
        QSignalSpy changed(stats.get(), &SystemStatsProvider::activeConnectionsChanged);
        QCOMPARE(scan(*stats), good);
        QCOMPARE(scan(*stats), good);
        QCOMPARE(changed.count(), 0);

        // Gone altogether: the same.
        QVERIFY(QDir(tree->path("proc/net/tcp")).removeRecursively());
        QCOMPARE(scan(*stats), good);

        // Readable again: the next listing is shown, an empty one as the placeholder.
        tree->write("proc/net/tcp", ProcNetTcp::kHeader);
        QCOMPARE(scan(*stats), QList<ActiveConnection>{ConnectionScanner::placeholder()});
    }

    // While the kernel's counters stand still the listing is not walked again, for up to
    // ten ticks; once they move, the next tick lists afresh.
    void quietCountersSkipTheListing()
    {
        const auto counters = [this](int established, int opens) {
            tree->write("proc/net/snmp", QStringLiteral("Tcp: ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab\n"
                                                        "Tcp: %1 0 0 0 %2\n").arg(opens).arg(established).toUtf8());
        };
        const auto table = [this](quint16 port) {
            tree->write("proc/net/tcp", ProcNetTcp::kHeader + v4("192.168.1.5", port, "93.184.216.34", 443, 9000));
        };
        counters(1, 1);
        table(50000);
        auto stats = makeProvider();
        QVERIFY(stats->activeConnections().first().remote.contains(":50000->"));

        QSignalSpy scanned(stats.get(), &SystemStatsProvider::connectionsScanned);
        table(50001);
        for (int tick = 1; tick < 10; ++tick)
            stats->updateStats();
        QVERIFY(!scanned.wait(200));
        QVERIFY(stats->activeConnections().first().remote.contains(":50000->"));
        stats->updateStats();   // the tenth quiet tick lists anyway
        QVERIFY(scanned.wait(5000));
        QVERIFY(stats->activeConnections().first().remote.contains(":50001->"));

        table(50002);
        stats->updateStats();
        QVERIFY(!scanned.wait(200));
        counters(1, 2);   // one closed, one opened
        QVERIFY(scan(*stats).first().remote.contains(":50002->"));
    }

    // Without a screen watching, ticks do not walk the connection table, whatever the
    // counters do; the first watcher gets a listing at once, a second adds no walk.
    void listedOnlyWhileWatched()
    {
        tree->write("proc/net/snmp", "Tcp: ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab\nTcp: 1 0 0 0 1\n");
        tree->write("proc/net/tcp", ProcNetTcp::kHeader + v4("192.168.1.5", 50000, "93.184.216.34", 443, 9000));
        auto stats = makeProvider();
        QSignalSpy scanned(stats.get(), &SystemStatsProvider::connectionsScanned);
        stats->watchConnections(false);
        for (int opens = 2; opens < 14; ++opens) {   // counters moving on every tick, past the recheck
            tree->write("proc/net/snmp", QStringLiteral("Tcp: ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab\n"
                                                        "Tcp: %1 0 0 0 1\n").arg(opens).toUtf8());
            stats->updateStats();
        }
        QVERIFY(!scanned.wait(200));
        QCOMPARE(scanned.count(), 0);

        tree->write("proc/net/tcp", ProcNetTcp::kHeader + v4("192.168.1.5", 50001, "93.184.216.34", 443, 9000));
        stats->watchConnections(true);
        QVERIFY(scanned.wait(5000));
        QVERIFY(stats->activeConnections().first().remote.contains(":50001->"));
        stats->watchConnections(true);
        QVERIFY(!scanned.wait(200));
        QCOMPARE(scanned.count(), 1);
        // One of two screens closing leaves the other one's ticks listing.
        stats->watchConnections(false);
        tree->write("proc/net/snmp", "Tcp: ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab\nTcp: 99 0 0 0 1\n");
        stats->updateStats();
        QVERIFY(scanned.wait(5000));
        QCOMPARE(scanned.count(), 2);
    }

    void killConnectionProcess()
    {
        tree->write("proc/net/tcp", ProcNetTcp::kHeader);
        auto stats = makeProvider();
        QSignalSpy scanned(stats.get(), &SystemStatsProvider::connectionsScanned);
        for (const char *text : {"0", "abc", "-5", "", " 12", "99999999999"})
            stats->killConnectionProcess(QString::fromLatin1(text));
        QVERIFY(!scanned.wait(200));   // nothing killed, nothing rescanned

        {
            StdoutCapture out;
            stats->killConnectionProcess(QString::number(::getpid()));
            QVERIFY(out.text().contains("Refusing to kill process " + QByteArray::number(::getpid())));
        }

        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(sleeper.waitForStarted());
        const qint64 pid = sleeper.processId();
        stats->killConnectionProcess(QString::number(pid));
        QVERIFY(sleeper.waitForFinished(5000));
        QCOMPARE(sleeper.exitStatus(), QProcess::CrashExit);
        QVERIFY(scanned.wait(5000));   // the row is rescanned at once

        StdoutCapture out;
        stats->killConnectionProcess(QString::number(pid));   // reaped: no such process
        QVERIFY(out.text().contains("Failed to kill connection PID " + QByteArray::number(pid) + ": "));
    }

    void localAddressFollowsTheDefaultRoute()
    {
        const std::vector<InterfaceAddress> addresses{
            {"lo", false, "127.0.0.1"},
            {"eth0", false, "10.0.0.2"},
            {"wlan0", false, "192.168.1.20"},
            {"wlan0", false, "192.168.1.21"},
            {"wlan0", true, "fe80::1"},
            {"docker0", false, "172.17.0.1"},
        };
        QCOMPARE(AddressWatcher::pickLocal(addresses, "wlan0"), QStringLiteral("192.168.1.21"));
        QCOMPARE(AddressWatcher::pickLocal(addresses, "eth0"), QStringLiteral("10.0.0.2"));
        // No default route (or one on an interface without IPv4): the last non-loopback.
        QCOMPARE(AddressWatcher::pickLocal(addresses, ""), QStringLiteral("172.17.0.1"));
        QCOMPARE(AddressWatcher::pickLocal(addresses, "wwan0"), QStringLiteral("172.17.0.1"));
        QCOMPARE(AddressWatcher::pickLocal({{"lo", false, "127.0.0.1"}}, ""), QStringLiteral("127.0.0.1"));
        QCOMPARE(AddressWatcher::pickLocal({}, "eth0"), QStringLiteral("127.0.0.1"));

        const QByteArray routes =
            "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
            "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
            "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
            "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
            "tun0\t00000000\t00000000\t0000\t0\t0\t50\t00000000\t0\t0\t0\n";   // down
        QCOMPARE(InterfaceAddressReader::defaultInterfaceIn(routes.toStdString()), std::string("eth0"));
        QCOMPARE(InterfaceAddressReader::defaultInterfaceIn(routes.left(routes.indexOf('\n') + 1).toStdString()), std::string());

        const QByteArray v6routes =
            "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n"
            "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 00000000000000000000000000000000 00000100 00000001 00000000 00000001   wlp2s0\n"
            "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 00000400 00000001 00000000 00000003   wlp2s0\n";
        QCOMPARE(InterfaceAddressReader::defaultInterfaceInIpv6(v6routes.toStdString()), std::string("wlp2s0"));

        // Enumerated on the first look, then only once the kernel announces a change.
        InterfaceAddressReader watcher(tree->root("proc"));
        QVERIFY(watcher.changed());
        QCOMPARE(watcher.changed(), !watcher.listening());   // no routing socket: always look
        QCOMPARE(watcher.changed(), !watcher.listening());

        tree->write("proc/net/route", routes);
        auto stats = makeProvider({}, addresses);
        stats->updateStats();
        QCOMPARE(stats->localIP(), QStringLiteral("10.0.0.2"));
        tree->remove("proc/net/route");
        tree->write("proc/net/ipv6_route", QByteArray(v6routes).replace("wlp2s0", "wlan0"));
        stats->updateStats();
        QCOMPARE(stats->localIP(), QStringLiteral("192.168.1.21"));
    }

    void publicAddressFetch()
    {
        FakeHttpServer server;
        server.reply(200, "203.0.113.7\n");
        server.setDelay(300);
        auto stats = makeProvider(server.url());
        QCOMPARE(stats->publicIP(), QStringLiteral("Checking..."));
        QSignalSpy fetched(stats.get(), &SystemStatsProvider::publicIPFetched);
        for (int i = 0; i < 3; ++i)
            stats->updateStats();   // one fetch in flight, however many ticks pass
        QVERIFY(fetched.wait(5000));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(stats->publicIP(), QStringLiteral("203.0.113.7"));
        stats->updateStats();
        QTest::qWait(50);
        QCOMPARE(server.requests().size(), 1);   // not again before a minute is up

        // A captive portal's page or a failure keeps the last address.
        server.setDelay(0);
        server.reply(200, "<html>Please log in</html>");
        stats->fetchPublicIP();
        QVERIFY(fetched.wait(5000));
        QCOMPARE(fetched.last().first().toBool(), false);
        server.reply(500, "");
        stats->fetchPublicIP();
        QVERIFY(fetched.wait(5000));
        QCOMPARE(stats->publicIP(), QStringLiteral("203.0.113.7"));
        server.reply(200, "2001:db8::42");
        stats->fetchPublicIP();
        QVERIFY(fetched.wait(5000));
        QCOMPARE(stats->publicIP(), QStringLiteral("2001:db8::42"));

        // A reply that never ends is cut at a few kilobytes, not read for ever.
        StreamingHttpServer endless({"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", -1});
        auto flooded = makeProvider(endless.url());
        QSignalSpy floodedFetched(flooded.get(), &SystemStatsProvider::publicIPFetched);
        flooded->fetchPublicIP();
        QVERIFY(floodedFetched.wait(5000));
        QCOMPARE(floodedFetched.last().first().toBool(), false);
        QVERIFY(endless.sent() > 4096);
        QTest::qWait(100);
        const qint64 sentWhenCut = endless.sent();
        QTest::qWait(200);
        QVERIFY(endless.sent() - sentWhenCut < 1024 * 1024);   // the transfer stopped

        // Without an address service nothing is fetched.
        auto offline = makeProvider();
        offline->updateStats();
        QCOMPARE(offline->publicIP(), QStringLiteral("Checking..."));
    }

    // Offline, the echo is asked less and less often; a new network is asked at once.
    void publicAddressBacksOffWhileFailing()
    {
        FakeHttpServer server;
        server.reply(503, "");
        qint64 clock = 0;
        std::vector<InterfaceAddress> addresses{{"eth0", false, "10.0.0.2"}};
        int fetches = 0;
        bool lastOk = true;
        AddressWatcher watcher(tree->root("proc"), [&addresses] { return addresses; }, server.url(),
                               {[](const QString &) {}, [&](bool ok, const QString &) { ++fetches; lastOk = ok; }},
                               [&clock] { return clock; });
        // Each tick of `seconds` seconds; returns the seconds at which a fetch went out.
        auto run = [&](int seconds) -> QList<int> {
            QList<int> at;
            for (int s = 0; s < seconds; ++s, clock += 1000) {
                watcher.poll();
                if (!watcher.fetching())
                    continue;
                // Each fetch is answered before the clock moves on.
                if (!QTest::qWaitFor([&] { return !watcher.fetching(); }, 5000))
                    return {-1};
                at.append(int(clock / 1000));
            }
            return at;
        };
        QCOMPARE(run(400), (QList<int>{0, 10, 30, 70, 150, 310}));
        QVERIFY(!lastOk);
        QCOMPARE(run(600), (QList<int>{610, 910}));   // five minutes apart from now on

        // Another network: asked on the next tick, and back to short waits when it fails.
        addresses = {{"wlan0", false, "192.168.1.21"}};
        QCOMPARE(run(40), (QList<int>{1000, 1010, 1030}));

        // Answered: a refresh a minute later; a failure then never comes sooner than that.
        server.reply(200, "203.0.113.7");
        addresses = {{"eth0", false, "10.0.0.2"}};
        QCOMPARE(run(1).size(), 1);
        QVERIFY(lastOk);
        server.reply(503, "");
        QCOMPARE(run(200), (QList<int>{1100, 1160, 1220}));
        QCOMPARE(server.requests().size(), fetches);
        QCOMPARE(AddressWatcher::fetchIntervalMs(1, true), 60000);
        QCOMPARE(AddressWatcher::fetchIntervalMs(4, true), 80000);
        QCOMPARE(AddressWatcher::fetchIntervalMs(40, false), 300000);
    }

    void pingOutputParsing_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<double>("latency");   // -1: no reading
        QTest::newRow("reply") << QStringLiteral("64 bytes from 1.1.1.1: icmp_seq=1 ttl=57 time=12.345 ms\n") << 12.345;
        QTest::newRow("sub-ms") << QStringLiteral("64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.078 ms") << 0.078;
        QTest::newRow("first time= wins") << QStringLiteral("time=3 ms time=9 ms") << 3.0;
        QTest::newRow("lost") << QStringLiteral("1 packets transmitted, 0 received, 100% packet loss") << -1.0;
        QTest::newRow("no unit") << QStringLiteral("time=12.3") << -1.0;
        QTest::newRow("not a number") << QStringLiteral("time=fast ms") << -1.0;
        QTest::newRow("empty") << QString() << -1.0;
    }
    void pingOutputParsing()
    {
        QFETCH(QString, output);
        QFETCH(double, latency);
        const std::optional<double> parsed = PingService::parseLatency(output);
        QCOMPARE(parsed.value_or(-1.0), latency);
    }

    void pingThroughTheCommand()
    {
        const QString bin = tree->path("bin");
        QDir().mkpath(bin);
        writeScript(bin + QStringLiteral("/ping"), "echo \"$@\" > \"$0.args\"\n"
                    "echo '64 bytes from 192.0.2.1: icmp_seq=1 ttl=57 time=12.345 ms'\n");
        PingSources sources;
        sources.host = QStringLiteral("192.0.2.1");
        sources.method = PingSources::Method::Command;
        sources.searchPath = QStringList{bin};
        PingService service(sources, PingService::Polling::Manual);
        QCOMPARE(service.latencyHistory(), QList<double>(60, 0.0));

        QSignalSpy pinged(&service, &PingService::pinged);
        service.ping();
        service.ping();   // still out: ignored
        QVERIFY(pinged.wait(5000));
        QCOMPARE(service.currentLatency(), 12.345);
        QCOMPARE(service.latencyHistory().size(), 60);
        QCOMPARE(service.latencyHistory().last(), 12.345);
        QFile args(bin + QStringLiteral("/ping.args"));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(args.readAll().trimmed(), QByteArray("-c 1 -W 1 192.0.2.1"));

        writeScript(bin + QStringLiteral("/ping"), "echo '1 packets transmitted, 0 received'; exit 1\n");
        service.ping();
        QVERIFY(pinged.wait(5000));
        QCOMPARE(service.currentLatency(), 0.0);
        QCOMPARE(service.latencyHistory().last(), 0.0);
        QCOMPARE(service.latencyHistory().value(58), 12.345);
        QCOMPARE(pinged.count(), 2);

        QFile::remove(bin + QStringLiteral("/ping"));
        StdoutCapture out;
        service.ping();
        QVERIFY(pinged.wait(5000));
        QVERIFY(out.text().startsWith("Ping failed: "));
        QCOMPARE(service.currentLatency(), 0.0);
    }

    void realPingOfLoopback()
    {
        PingSources sources;
        sources.host = QStringLiteral("127.0.0.1");
        if (IcmpPinger().permitted(sources.host))
            sources.method = PingSources::Method::Socket;
        else if (!QStandardPaths::findExecutable(QStringLiteral("ping")).isEmpty())
            sources.method = PingSources::Method::Command;
        else
            QSKIP("this user may not open ICMP sockets (net.ipv4.ping_group_range) and no ping program is installed");
        PingService service(sources, PingService::Polling::Manual);
        QSignalSpy pinged(&service, &PingService::pinged);
        service.ping();
        QVERIFY(pinged.wait(5000));
        if (service.currentLatency() == 0.0)
            QSKIP("loopback echo got no reply here (ICMP filtered?)");
        QVERIFY(service.currentLatency() > 0.0);
        QVERIFY(service.currentLatency() < 1000.0);
    }

    // Two echoes out at once each get their own answer, on both families, whichever
    // socket this process may open (a raw one sees the other's replies too).
    void socketPingsKeepTheirOwnReplies()
    {
        for (const QString &host : {QStringLiteral("127.0.0.1"), QStringLiteral("::1")}) {
            if (!IcmpPinger().permitted(host)) {
                qInfo("no ICMP socket for %s here", qPrintable(host));
                continue;
            }
            IcmpPinger first, second;
            std::optional<double> a, b;
            int answers = 0;
            first.ping(host, 2000, [&](std::optional<double> ms, const QString &) { a = ms; ++answers; });
            second.ping(host, 2000, [&](std::optional<double> ms, const QString &) { b = ms; ++answers; });
            QTRY_COMPARE_WITH_TIMEOUT(answers, 2, 5000);
            if (!a && !b && host == QLatin1String("::1"))
                continue;   // no IPv6 loopback here
            QVERIFY2(a && b, qPrintable(host));
            QVERIFY(*a >= 0 && *a < 1000);
            QVERIFY(*b >= 0 && *b < 1000);
        }
    }

    // Echo after echo goes through the one socket the pinger keeps: no descriptor is
    // opened or left behind per echo, and each answer is its own echo's.
    void socketIsKeptBetweenEchoes()
    {
        IcmpPinger pinger;
        if (!pinger.permitted(QStringLiteral("127.0.0.1")))
            QSKIP("this user may not open ICMP sockets here");
        const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size(); };
        const qsizetype open = descriptors();
        for (int echo = 0; echo < 3; ++echo) {
            int calls = 0;
            std::optional<double> ms;
            pinger.ping(QStringLiteral("127.0.0.1"), 2000, [&](std::optional<double> m, const QString &) { ms = m; ++calls; });
            QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);
            QVERIFY(ms && *ms >= 0 && *ms < 1000);
            QCOMPARE(descriptors(), open);
        }
    }

    void socketPingAnswersEvenWhenRefused()
    {
        // Whatever the machine allows, the callback comes, later, exactly once.
        IcmpPinger pinger;
        int calls = 0;
        bool answered = false;
        pinger.ping(QStringLiteral("not-an-address"), 100, [&](std::optional<double> ms, const QString &error) {
            ++calls;
            answered = !ms && error.contains(QLatin1String("not a numeric address"));
        });
        QCOMPARE(calls, 0);
        QTRY_COMPARE(calls, 1);
        QVERIFY(answered);

        calls = 0;
        pinger.ping(QStringLiteral("127.0.0.1"), 500, [&](std::optional<double>, const QString &) { ++calls; });
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);
        QTest::qWait(600);
        QCOMPARE(calls, 1);
    }
};

QTEST_GUILESS_MAIN(TestConnections)
#include "tst_Connections.moc"

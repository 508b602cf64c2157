#include "app/Preferences.h"
#include "caches/BuildCacheService.h"
#include "exporter/MetricsEndpoint.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "platform/HttpGetListener.h"
#include "support/FixtureTree.h"
#include "support/MetricsFixture.h"
#include "support/HttpClient.h"
#include "support/LoopbackPeers.h"
#include "support/OllamaReplies.h"
#include "telemetry/SystemStatsProvider.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {
GenerationFigures oneChat()
{
    GenerationFigures f;
    f.model = QStringLiteral("a:7b");
    f.promptTokens = 11;
    f.generatedTokens = 250;
    f.loadNs = 250'000'000;
    f.promptEvalNs = 125'000'000;
    f.evalNs = 5'000'000'000;
    return f;
}
}

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int statusOf(const QByteArray &response)
{
    return response.startsWith("HTTP/1.1 ") ? response.mid(9, 3).toInt() : 0;
}

// A raw loopback connection that sends what it is told and nothing else.
int rawConnect(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    return fd;
}

// Whether the server has closed `fd`: a read sees the end (or a reset), not "nothing yet".
bool closedByServer(int fd)
{
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}
}

class TestMetricsEndpoint : public QObject
{
    Q_OBJECT

    FixtureTree machine;
    MetricsSources fixture() const { return fixtureMetricsSources(machine); }

private Q_SLOTS:
    void initTestCase()
    {
        machine.write("proc/stat", "cpu0 1 2 3 4 5 6 7 8 0 0\n");
        machine.write("proc/meminfo", "MemTotal: 1000 kB\nMemAvailable: 500 kB\n");
    }

    void answersOnlyGetMetrics()
    {
        MetricsEndpoint endpoint(fixture());
        QVERIFY2(endpoint.start("127.0.0.1:0"), qPrintable(endpoint.errorString()));
        QVERIFY(endpoint.isListening());
        QCOMPARE(endpoint.address(), QStringLiteral("127.0.0.1:%1").arg(endpoint.port()));
        const quint16 port = endpoint.port();

        const QByteArray ok = scrape(port);
        QCOMPARE(statusOf(ok), 200);
        QVERIFY(ok.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
        QVERIFY(bodyOf(ok).contains("\nquillmoor_memory_total_bytes 1024000\n"));
        QVERIFY(!bodyOf(ok).contains("# EOF"));
        const QByteArray open = scrape(port, "application/openmetrics-text;version=1.0.0,text/plain;q=0.5");
        QVERIFY(open.contains("Content-Type: application/openmetrics-text; version=1.0.0; charset=utf-8\r\n"));
        QVERIFY(bodyOf(open).endsWith("# EOF\n"));
        // A query string is still /metrics, as scrapers with params send it.
        QCOMPARE(statusOf(exchange(port, "GET /metrics?x=1 HTTP/1.0\r\n\r\n")), 200);
        // The head is counted as received once the blank line comes, even with bare LFs.
        QCOMPARE(statusOf(exchange(port, "GET /metrics HTTP/1.1\nHost: a\n\n")), 200);

        const QByteArray post = exchange(port, "POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi");
        QCOMPARE(statusOf(post), 405);
        QVERIFY(post.contains("Allow: GET\r\n"));
        QCOMPARE(statusOf(exchange(port, "HEAD /metrics HTTP/1.1\r\n\r\n")), 405);
        QCOMPARE(statusOf(exchange(port, "DELETE /metrics HTTP/1.1\r\n\r\n")), 405);
        QCOMPARE(statusOf(exchange(port, "GET / HTTP/1.1\r\n\r\n")), 404);
        QCOMPARE(statusOf(exchange(port, "GET /metrics/../etc HTTP/1.1\r\n\r\n")), 404);
        QCOMPARE(statusOf(exchange(port, "hello there\r\n\r\n")), 400);
        QCOMPARE(statusOf(exchange(port, "GET /metrics SPDY/3\r\n\r\n")), 400);
        QCOMPARE(endpoint.scrapes(), 4);

        endpoint.stop();
        QVERIFY(!endpoint.isListening());
        QVERIFY(endpoint.address().isEmpty());
        QCOMPARE(exchange(port, "GET /metrics HTTP/1.1\r\n\r\n", 1000), QByteArray());
    }

    void addressesItTakesAndRefuses()
    {
        using Parsed = std::optional<std::pair<QHostAddress, quint16>>;
        QCOMPARE(MetricsEndpoint::parseAddress("127.0.0.1:11440"), Parsed(std::make_pair(QHostAddress("127.0.0.1"), 11440)));
        QCOMPARE(MetricsEndpoint::parseAddress(" localhost:9 "), Parsed(std::make_pair(QHostAddress(QHostAddress::LocalHost), 9)));
        QCOMPARE(MetricsEndpoint::parseAddress("[::1]:80"), Parsed(std::make_pair(QHostAddress("::1"), 80)));
        QCOMPARE(MetricsEndpoint::parseAddress("0.0.0.0:11440"), Parsed(std::make_pair(QHostAddress("0.0.0.0"), 11440)));
        for (const char *bad : {"", "127.0.0.1", ":11440", "::1:80", "127.0.0.1:65536", "127.0.0.1:-1", "example.org:80",
                                "127.0.0.1:80x"})
            QVERIFY2(!MetricsEndpoint::parseAddress(bad), bad);

        MetricsEndpoint endpoint(fixture());
        QVERIFY(!endpoint.start("somewhere"));
        QVERIFY(endpoint.errorString().contains("somewhere"));
        QVERIFY(!endpoint.isListening());
        // A port someone else holds: the reason comes back instead of a silent nothing.
        MetricsEndpoint first(fixture());
        QVERIFY(first.start("127.0.0.1:0"));
        const QString taken = first.address();
        QVERIFY(!endpoint.start(taken));
        QVERIFY2(endpoint.errorString().contains("in use"), qPrintable(endpoint.errorString()));
        // IPv6 loopback, where the machine has it, is written back in brackets.
        if (endpoint.start("[::1]:0")) {
            QVERIFY(endpoint.address().startsWith("[::1]:"));
            QVERIFY(endpoint.errorString().isEmpty());
        }
    }

    void survivesHostileClients()
    {
        MetricsEndpoint endpoint(fixture());
        endpoint.setIdleTimeoutMs(1500);
        QVERIFY(endpoint.start("127.0.0.1:0"));
        const quint16 port = endpoint.port();

        // A client that connects and says nothing does not hold up the next scrape, and is
        // let go after the timeout.
        const int silent = rawConnect(port);
        QTest::qWait(100);
        QCOMPARE(statusOf(scrape(port)), 200);
        QVERIFY(!closedByServer(silent));
        QVERIFY(QTest::qWaitFor([&] { return closedByServer(silent); }, 5000));
        ::close(silent);

        // A request line of 1 MiB is cut off at the head limit, not buffered.
        const QByteArray huge = "GET /" + QByteArray(1 << 20, 'a') + " HTTP/1.1\r\n\r\n";
        const QByteArray refused = exchange(port, huge);
        QVERIFY2(refused.isEmpty() || statusOf(refused) == 431, refused.left(80).constData());
        QCOMPARE(statusOf(scrape(port)), 200);

        // 500 connections at once that never send: the oldest make room, the open set stays
        // bounded, and the next scrape is answered while they are all still connected.
        std::vector<int> flood;
        for (int i = 0; i < 500; ++i)
            flood.push_back(rawConnect(port));
        QTest::qWait(300);
        QVERIFY(endpoint.openConnections() <= HttpGetListener::kMaxConnections);
        const QByteArray answered = scrape(port);
        QCOMPARE(statusOf(answered), 200);
        QVERIFY(bodyOf(answered).contains("quillmoor_build_info"));
        for (int fd : flood)
            ::close(fd);
        QVERIFY(QTest::qWaitFor([&] { return endpoint.openConnections() == 0; }, 5000));
        QCOMPARE(statusOf(scrape(port)), 200);
    }

    // The endpoint as the app runs it, over the real machine and the real services, read
    // by promtool, Prometheus's own checker.
    void liveScrapePassesPromtool()
    {
        QTemporaryDir home;
        Preferences preferences(new QSettings(home.filePath("q.ini"), QSettings::IniFormat));
        TelemetrySources telemetry;
        telemetry.homePath = QFile::encodeName(home.path()).toStdString();
        SystemStatsProvider stats(preferences, telemetry, SystemStatsProvider::Polling::Manual);
        stats.updateStats();
        QTest::qWait(200);
        stats.updateStats();
        LocalAISources ai;
        ai.ollamaUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        ai.searchPath = QStringList{};
        LocalAIService localAI(ai, LocalAIService::Polling::Manual);
        localAI.setDemoMode(false);
        bool listed = false;
        localAI.updateModels([&] { listed = true; });
        QVERIFY(QTest::qWaitFor([&] { return listed; }, 10000));
        // One chat through the relay, so its per-model counters have something to say.
        const QByteArray chat = "POST /api/chat HTTP/1.1\r\nContent-Length: 18\r\n\r\n{\"model\":\"a:7b\"}  ";
        const QByteArray reply = jsonReply(finalObject(oneChat()));
        ScriptedServer upstream([reply](QTcpSocket *socket) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] {
                socket->readAll();
                socket->write(reply);
            });
        });
        LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), upstream.port(), 5000});
        proxy.startProxy(0);
        QTRY_VERIFY(proxy.isRunning());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(5000));
        client.write(chat);
        QTRY_COMPARE(proxy.modelThroughput().size(), 1);
        BuildCacheSources cacheSources;
        cacheSources.homePath = home.path();
        cacheSources.environment = [](const char *) { return QString(); };
        cacheSources.ollamaServiceStores = {};
        BuildCacheService caches(cacheSources, BuildCacheService::Polling::Manual);
        bool walked = false;
        caches.scanCaches([&] { walked = true; });
        QVERIFY(QTest::qWaitFor([&] { return walked; }, 10000));

        MetricsSources sources;
        sources.stats = &stats;
        sources.localAI = &localAI;
        sources.proxy = &proxy;
        sources.caches = &caches;
        MetricsEndpoint endpoint(sources);
        QVERIFY(endpoint.start("127.0.0.1:0"));
        const QByteArray body = bodyOf(scrape(endpoint.port()));
        for (const char *name : {"quillmoor_cpu_seconds_total{", "quillmoor_cpu_usage_ratio ", "quillmoor_memory_available_bytes ",
                                 "quillmoor_network_receive_bytes_total{device=\"lo\"}", "quillmoor_ollama_up 0",
                                 "quillmoor_proxy_requests_total 1", "quillmoor_cache_size_bytes{", "quillmoor_build_info{",
                                 "quillmoor_proxy_generations_total{model=\"a:7b\"} 1\n",
                                 "quillmoor_proxy_prompt_tokens_total{model=\"a:7b\"} 11\n",
                                 "quillmoor_proxy_generated_tokens_total{model=\"a:7b\"} 250\n",
                                 "quillmoor_proxy_load_seconds_total{model=\"a:7b\"} 0.25\n",
                                 "quillmoor_proxy_prompt_eval_seconds_total{model=\"a:7b\"} 0.125\n",
                                 "quillmoor_proxy_generation_seconds_total{model=\"a:7b\"} 5\n"})
            QVERIFY2(body.contains(name), name);
        const QByteArray problems = promtoolProblems(body);
        QVERIFY2(problems.isEmpty(), problems.constData());
    }
};

QTEST_GUILESS_MAIN(TestMetricsEndpoint)
#include "tst_MetricsEndpoint.moc"

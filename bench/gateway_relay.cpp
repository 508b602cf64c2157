// The local API proxy side by side with a direct connection and with socat relaying the
// same upstream, all in one run: throughput of one 1 GiB streamed reply, and requests per
// second with added latency over 10,000 small request/reply pairs, each on a new
// connection. Client and upstream use plain blocking sockets on their own threads so
// that what is timed is the relay in between. Beside the measured traffic, 500 idle
// clients sit on the proxy (each replaced when the proxy closes it), as a careless or
// hostile local program would leave them; none may outlive the proxy's 10 s grace period.
//
//   bench_gateway_relay [--stream-mib N] [--requests N] [--only ROUTE] [--generate 1]
// `--only` keeps direct and the named route (proxy, bare, proxy-rw or socat), for profiling
// one; proxy-rw is the proxy with splice switched off.
// `--generate 1` makes the traffic Ollama's: the stream is a generation streamed as NDJSON,
// one line a chunk as Ollama writes it, and each small pair a chat request and its last
// object; the proxy reads their figures, and a second proxy that does not (unmetered) shows
// what the reading costs: best of 7 streams of 512 MiB and 40,000 pairs unless --stream-mib
// and --requests say otherwise, without socat.
// socat (Debian package socat) must be on PATH for its column.

#include "gateway/LocalAPIProxyService.h"
#include "relay_peers.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include <poll.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

extern char **environ;

namespace {
using namespace relay_bench;
constexpr int kRequestSize = 128;
constexpr int kReplySize = 256;
bool g_generate = false;   // the traffic is Ollama's (see --generate)

// `head` and a JSON body padded with spaces so the whole is `size` bytes.
std::string sized(const std::string &head, const std::string &json, size_t size)
{
    // The length's own digits count too: find the body length that makes the whole fit.
    for (size_t length = size; length >= json.size(); --length) {
        const std::string start = head + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
        if (start.size() + length == size) {
            std::string body = json;
            body.resize(length, ' ');
            return start + body;
        }
    }
    return {};
}

// The small request and its reply, 128 and 256 bytes either way.
std::string smallRequest()
{
    if (!g_generate) {
        std::string request = R"({"model": "llama3:8b", "prompt": "ping"})";
        request.resize(kRequestSize, ' ');
        return request;
    }
    return sized("POST /api/chat HTTP/1.1\r\nHost: b\r\n", R"({"model":"llama3:8b","stream":false})", kRequestSize);
}

std::string smallReply()
{
    if (!g_generate)
        return std::string(kReplySize, 'r');
    return sized("HTTP/1.1 200 OK\r\nConnection: close\r\n",
                 R"({"model":"llama3:8b","done":true,"prompt_eval_count":5,"eval_count":9,"eval_duration":90000000})",
                 kReplySize);
}

std::string streamRequest()
{
    if (!g_generate)
        return "S";
    return sized("POST /api/generate HTTP/1.1\r\nHost: b\r\n", R"({"model":"llama3:8b","prompt":"go"})", kRequestSize);
}

// A streamed generation: the head, then one NDJSON line a chunk, repeated to about
// `bytes`, then the last object and the end of the chunks.
struct Generation
{
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    std::string block;   // whole chunks, about 1 MiB
    std::string tail;
    explicit Generation()
    {
        const std::string line = R"({"model":"llama3:8b","created_at":"2026-12-08T10:00:00.123456Z","response":" token","done":false})" "\n";
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", line.size());
        while (block.size() < (1u << 20))
            block += size + line + "\r\n";
        const std::string last = R"({"model":"llama3:8b","done":true,"prompt_eval_count":26,"eval_count":298,"eval_duration":4232710000})" "\n";
        std::snprintf(size, sizeof size, "%zx\r\n", last.size());
        tail = size + last + "\r\n0\r\n\r\n";
    }
    // The blocks a stream of about `bytes` takes.
    static size_t blocks(size_t bytes, const Generation &g) { return std::max<size_t>(1, bytes / g.block.size()); }
    size_t total(size_t bytes) const { return head.size() + blocks(bytes, *this) * block.size() + tail.size(); }
};


// The upstream: a request starting with 'S' gets `streamBytes` and a close; any other
// gets a 256-byte reply once its 128 bytes are in, and a close.
class Upstream
{
public:
    explicit Upstream(size_t streamBytes)
        : m_streamBytes(streamBytes)
    {
        m_listener = listenOn(0, &m_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~Upstream()
    {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    void serve()
    {
        std::vector<char> block(1 << 20, 'x');
        const std::string reply = smallReply();
        const Generation generation;
        while (!m_stop) {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            char request[kRequestSize];
            ssize_t got = 0;
            while (got < kRequestSize) {
                const ssize_t n = ::read(fd, request + got, size_t(kRequestSize - got));
                if (n <= 0)
                    break;
                got += n;
                if (request[0] == 'S')
                    break;
            }
            if (g_generate && got == kRequestSize && std::strncmp(request, "POST /api/generate", 18) == 0) {
                bool ok = writeAll(fd, generation.head.data(), generation.head.size());
                for (size_t i = 0; ok && i < Generation::blocks(m_streamBytes, generation); ++i)
                    ok = writeAll(fd, generation.block.data(), generation.block.size());
                if (ok)
                    writeAll(fd, generation.tail.data(), generation.tail.size());
            } else if (got > 0 && request[0] == 'S') {
                for (size_t sent = 0; sent < m_streamBytes; sent += block.size())
                    if (!writeAll(fd, block.data(), std::min(block.size(), m_streamBytes - sent)))
                        break;
            } else if (got == kRequestSize) {
                writeAll(fd, reply.data(), reply.size());
            }
            ::close(fd);
        }
    }

    size_t m_streamBytes;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};


struct Route
{
    Route(const char *n, quint16 p) : name(n), port(p) {}
    const char *name;
    quint16 port;
    double bestThroughput = 0;   // GiB/s
    std::vector<double> latenciesUs;
    double requestSeconds = 0;
    double requestsPerSecond() const { return requestSeconds > 0 ? double(latenciesUs.size()) / requestSeconds : 0; }
};

double streamOnce(quint16 port, size_t expected)
{
    std::vector<char> buffer(1 << 20);
    const auto start = Clock::now();
    const int fd = connectTo(port);
    if (fd < 0)
        return 0;
    const std::string request = streamRequest();
    writeAll(fd, request.data(), request.size());
    const size_t got = readToEnd(fd, buffer);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    if (got != expected) {
        std::fprintf(stderr, "stream short: %zu of %zu bytes\n", got, expected);
        return 0;
    }
    return double(got) / double(1 << 30) / seconds;
}

// Appends `count` timed request/reply pairs to the route's latencies.
bool requests(Route &route, int count)
{
    const std::string request = smallRequest();
    std::vector<char> buffer(4096);
    const auto begin = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const int fd = connectTo(route.port);
        if (fd < 0)
            return false;
        writeAll(fd, request.data(), request.size());
        const size_t got = readToEnd(fd, buffer);
        ::close(fd);
        if (got != size_t(kReplySize))
            return false;
        route.latenciesUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    route.requestSeconds += std::chrono::duration<double>(Clock::now() - begin).count();
    return true;
}

double percentile(const std::vector<double> &sorted, double p)
{
    return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    size_t streamBytes = size_t(1) << 30;
    int requestCount = 10000;
    bool requestsGiven = false;
    bool streamGiven = false;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--stream-mib") == 0)
            streamBytes = size_t(std::atol(argv[i + 1])) << 20, streamGiven = true;
        else if (std::strcmp(argv[i], "--requests") == 0)
            requestCount = std::atoi(argv[i + 1]), requestsGiven = true;
        else if (std::strcmp(argv[i], "--only") == 0)
            only = argv[i + 1];
        else if (std::strcmp(argv[i], "--generate") == 0)
            g_generate = std::atoi(argv[i + 1]) != 0;
    }
    if (g_generate && !requestsGiven)
        requestCount = 40000;
    if (g_generate && !streamGiven)
        streamBytes = size_t(512) << 20;
    const size_t streamExpected = g_generate ? Generation().total(streamBytes) : streamBytes;

    Upstream upstream(streamBytes);
    LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), upstream.port(), 5000});
    // The same proxy with bulk bytes through user space, to show what splice brings.
    RelayTarget copying{QHostAddress(QHostAddress::LocalHost), upstream.port(), 5000};
    copying.splice = false;
    // With Ollama's traffic the second proxy relays it as the first does but reads nothing of it.
    if (g_generate) {
        copying.splice = true;
        copying.meterGenerations = false;
    }
    LocalAPIProxyService proxyCopying(copying);
    proxy.startProxy(0);
    proxyCopying.startProxy(0);
    QElapsedTimer wait;
    wait.start();
    while ((!proxy.isRunning() || !proxyCopying.isRunning()) && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!proxy.isRunning() || !proxyCopying.isRunning()) {
        std::fprintf(stderr, "the proxy did not start\n");
        return 1;
    }
    Socat socat(upstream.port());
    BareRelay bare(upstream.port());
    constexpr int kIdle = 500;
    auto idle = std::make_unique<IdleCrowd>(proxy.listeningPort(), kIdle);
    // The two proxies compared for what metering costs carry the same load of idle clients.
    auto idleUnmetered = g_generate ? std::make_unique<IdleCrowd>(proxyCopying.listeningPort(), kIdle) : nullptr;

    std::vector<Route> routes{{"direct", upstream.port()}, {"proxy", proxy.listeningPort()}, {"bare", bare.port()},
                              {g_generate ? "unmetered" : "proxy-rw", proxyCopying.listeningPort()}};
    // With Ollama's traffic the run compares the two proxies, over many more pairs to steady
    // their tails; socat, a fork per connection, would take minutes over them.
    if (socat.port() && !g_generate)
        routes.push_back({"socat", socat.port()});
    else if (!g_generate)
        std::fprintf(stderr, "socat not found on PATH: its column is left out\n");
    if (!only.empty())
        routes.erase(std::remove_if(routes.begin() + 1, routes.end(), [&](const Route &r) { return r.name != only; }),
                     routes.end());
    if (routes.size() == 1) {
        std::fprintf(stderr, "--only %s: no such route (proxy, bare, proxy-rw or socat)\n", only.c_str());
        return 1;
    }

    const auto runStart = Clock::now();
    // Interleaved rounds, so a slow moment of the machine does not land on one route only.
    // Each round in another order: a route's place in the round shows in its tail (the one
    // after the direct route had the worst p99 whichever proxy it was), and the rotation
    // spreads that over all.
    const auto order = [&routes](int round) {
        std::vector<Route *> ordered;
        for (size_t i = 0; i < routes.size(); ++i)
            ordered.push_back(&routes[(i + size_t(round)) % routes.size()]);
        return ordered;
    };
    // Ollama's stream moves a small chunk at a time through three threads on however many
    // cores there are: its best of three still wandered by 15 % between runs, so it gets more.
    const int streamRounds = g_generate ? 7 : 3;
    for (int round = 0; round < streamRounds; ++round)
        for (Route *route : order(round))
            route->bestThroughput = std::max(route->bestThroughput, streamOnce(route->port, streamExpected));
    constexpr int kRounds = 40;
    for (Route &route : routes)
        route.latenciesUs.reserve(size_t(requestCount));
    for (int round = 0; round < kRounds; ++round) {
        const int count = requestCount / kRounds + (round < requestCount % kRounds ? 1 : 0);
        for (Route *route : order(round)) {
            if (!requests(*route, count)) {
                std::fprintf(stderr, "%s: a request failed\n", route->name);
                return 1;
            }
            QCoreApplication::processEvents();   // the proxy's counters, queued meanwhile
        }
    }
    for (Route &route : routes)
        std::sort(route.latenciesUs.begin(), route.latenciesUs.end());
    const double runSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
    const double longestIdle = idle->longestSeconds();
    const int idleOpened = idle->opened();
    const int idleClosed = idle->closed();
    idle.reset();
    idleUnmetered.reset();
    wait.restart();   // the counters of the last idle clients are still on their way
    while (wait.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    const Route &direct = routes[0];
    const double directP50 = percentile(direct.latenciesUs, 0.5);
    const double directP99 = percentile(direct.latenciesUs, 0.99);
    std::printf("%-8s %14s %14s %12s %12s %16s %16s\n", "route", "stream GiB/s", "requests/s", "p50 µs", "p99 µs",
                "p50 added µs", "p99 added µs");
    for (const Route &route : routes) {
        const double p50 = percentile(route.latenciesUs, 0.5);
        const double p99 = percentile(route.latenciesUs, 0.99);
        std::printf("%-8s %14.2f %14.0f %12.1f %12.1f %16.1f %16.1f\n", route.name, route.bestThroughput,
                    route.requestsPerSecond(), p50, p99, p50 - directP50, p99 - directP99);
    }
    if (g_generate && routes.size() >= 4 && std::strcmp(routes[3].name, "unmetered") == 0) {
        const Route &metered = routes[1];
        const Route &plain = routes[3];
        const auto added = [&](const Route &r, double p) { return percentile(r.latenciesUs, p) - percentile(direct.latenciesUs, p); };
        std::printf("\nmetered / unmetered: stream %.3f×, requests/s %.3f×, p50 added %.3f×, p99 added %.3f× "
                    "(within 5 %%: throughput ≥ 0.95, latency ≤ 1.05)\n",
                    metered.bestThroughput / plain.bestThroughput, metered.requestsPerSecond() / plain.requestsPerSecond(),
                    added(metered, 0.5) / added(plain, 0.5), added(metered, 0.99) / added(plain, 0.99));
        qint64 replies = 0;
        qint64 tokens = 0;
        for (const ModelThroughput &row : proxy.modelThroughput()) {
            replies += row.requests;
            tokens += row.generatedTokens;
        }
        std::printf("metered replies: %lld, generated tokens: %lld (expected %d and %d)\n", static_cast<long long>(replies),
                    static_cast<long long>(tokens), streamRounds + requestCount, streamRounds * 298 + 9 * requestCount);
    }
    if (routes.size() == 5)
        std::printf("\nproxy / socat: throughput %.2f×, requests per second %.2f×\n", routes[1].bestThroughput
                    / routes[4].bestThroughput, routes[1].requestsPerSecond() / routes[4].requestsPerSecond());
    if (routes.size() > 2 && std::strcmp(routes[1].name, "proxy") == 0 && std::strcmp(routes[2].name, "bare") == 0) {
        const Route &ours = routes[1];
        const Route &floor = routes[2];
        const double p50Ratio = (percentile(ours.latenciesUs, 0.5) - directP50) / (percentile(floor.latenciesUs, 0.5) - directP50);
        const double p99Ratio = (percentile(ours.latenciesUs, 0.99) - directP99) / (percentile(floor.latenciesUs, 0.99) - directP99);
        std::printf("\nproxy / bare: p50 added %.2f× (target ≤ 1.2), p99 added %.2f× (≤ 1.3), "
                    "stream %.2f× (≥ 1.0), requests/s %.2f× (≥ 0.9)\n",
                    p50Ratio, p99Ratio, ours.bestThroughput / floor.bestThroughput,
                    ours.requestsPerSecond() / floor.requestsPerSecond());
    }
    std::printf("idle clients: %d opened, %d closed by the proxy over %.1f s, longest open %.2f s (limit 10 s)%s\n",
                idleOpened, idleClosed, runSeconds, longestIdle, longestIdle > 10.5 ? "  OUTLIVED" : "");
    const bool proxied = routes.size() > 1 && std::strcmp(routes[1].name, "proxy") == 0;
    // Each idle client is one accepted connection, counted as a request.
    std::printf("proxy requests counted: %d (expected %d)\n", proxy.requestCount(),
                (proxied ? streamRounds + requestCount : 0) + idleOpened);
    return longestIdle > 10.5 ? 2 : 0;
}

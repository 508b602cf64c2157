#include "platform/SocketTableReader.h"
#include "support/FixtureTree.h"
#include "support/ProcNetTcp.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>

namespace {
using Row = std::tuple<bool, std::string, int, std::string, int, int, unsigned, std::uint64_t>;

Row row(const SocketEntry &e)
{
    return {e.ipv6, e.localAddress, e.localPort, e.remoteAddress, e.remotePort, e.state, e.uid, e.inode};
}

// The entries that belong to this test's own sockets, in a fixed order. Tests running
// beside this one have sockets of their own on loopback, and the kernel hands out port
// numbers per family: a socket is this test's only if its family's port is one of ours and
// it is a listener or its peer is one of ours too.
struct Ports
{
    QList<int> v4;
    QList<int> v6;
};
std::vector<Row> ours(const std::vector<SocketEntry> &entries, const Ports &ports)
{
    std::vector<Row> rows;
    for (const SocketEntry &e : entries) {
        const QList<int> &family = e.ipv6 ? ports.v6 : ports.v4;
        if (family.contains(e.localPort) && (e.remotePort == 0 || family.contains(e.remotePort)))
            rows.push_back(row(e));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Appends one netlink message to a datagram being built, padded as the kernel pads it.
void appendMessage(std::vector<char> &datagram, std::uint16_t type, const void *payload, std::size_t size,
                   std::size_t claimed = 0)
{
    nlmsghdr header {};
    header.nlmsg_len = static_cast<std::uint32_t>(claimed ? claimed : NLMSG_LENGTH(size));
    header.nlmsg_type = type;
    const std::size_t at = datagram.size();
    datagram.resize(at + NLMSG_ALIGN(NLMSG_LENGTH(size)));
    std::memcpy(datagram.data() + at, &header, sizeof header);
    if (size)
        std::memcpy(datagram.data() + at + NLMSG_HDRLEN, payload, size);
}

inet_diag_msg diagnostic(int family, int state, std::uint16_t localPort, std::uint32_t inode)
{
    inet_diag_msg msg {};
    msg.idiag_family = static_cast<std::uint8_t>(family);
    msg.idiag_state = static_cast<std::uint8_t>(state);
    msg.idiag_uid = 1000;
    msg.idiag_inode = inode;
    msg.id.idiag_sport = htons(localPort);
    msg.id.idiag_dport = htons(443);
    if (family == AF_INET) {
        msg.id.idiag_src[0] = htonl(0x7F000001);
        msg.id.idiag_dst[0] = htonl(0x0A000002);
    } else {
        msg.id.idiag_src[3] = htonl(1);   // ::1
    }
    return msg;
}
}

class TestSocketTableReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The dump's datagrams as recv() gives them: entries of the families and states asked
    // for are kept, the closing message ends the dump, an error message fails it, and a
    // message whose length runs past the datagram is not read.
    void diagnosticsDatagrams()
    {
        std::vector<char> first;
        const inet_diag_msg listener = diagnostic(AF_INET, SocketEntry::kListen, 8080, 11);
        const inet_diag_msg established = diagnostic(AF_INET6, SocketEntry::kEstablished, 40000, 12);
        const inet_diag_msg udpLike = diagnostic(AF_UNIX, SocketEntry::kListen, 1, 13);
        appendMessage(first, SOCK_DIAG_BY_FAMILY, &listener, sizeof listener);
        appendMessage(first, SOCK_DIAG_BY_FAMILY, &established, sizeof established);
        appendMessage(first, SOCK_DIAG_BY_FAMILY, &udpLike, sizeof udpLike);
        std::vector<SocketEntry> out;
        QCOMPARE(SocketTableReader::parseDiagnostics(first.data(), first.size(), SocketTableReader::kAllStates,
                                                     {AF_INET, AF_INET6}, out),
                 SocketTableReader::DumpPart::More);
        QCOMPARE(out.size(), size_t(2));
        QVERIFY(row(out[0]) == Row(false, "127.0.0.1", 8080, "10.0.0.2", 443, SocketEntry::kListen, 1000u, 11u));
        QVERIFY(row(out[1]) == Row(true, "::1", 40000, "::", 443, SocketEntry::kEstablished, 1000u, 12u));

        out.clear();
        QCOMPARE(SocketTableReader::parseDiagnostics(first.data(), first.size(), 1u << SocketEntry::kListen,
                                                     {AF_INET6}, out),
                 SocketTableReader::DumpPart::More);
        QVERIFY(out.empty());

        std::vector<char> last;
        appendMessage(last, SOCK_DIAG_BY_FAMILY, &listener, sizeof listener);
        appendMessage(last, NLMSG_DONE, nullptr, 0);
        out.clear();
        QCOMPARE(SocketTableReader::parseDiagnostics(last.data(), last.size(), SocketTableReader::kAllStates,
                                                     {AF_INET}, out),
                 SocketTableReader::DumpPart::Done);
        QCOMPARE(out.size(), size_t(1));

        std::vector<char> refused;
        const int error = -EPERM;
        appendMessage(refused, NLMSG_ERROR, &error, sizeof error);
        QCOMPARE(SocketTableReader::parseDiagnostics(refused.data(), refused.size(), SocketTableReader::kAllStates,
                                                     {AF_INET}, out),
                 SocketTableReader::DumpPart::Failed);

        std::vector<char> overlong;
        appendMessage(overlong, SOCK_DIAG_BY_FAMILY, &listener, sizeof listener, NLMSG_LENGTH(sizeof listener) + 64);
        out.clear();
        QCOMPARE(SocketTableReader::parseDiagnostics(overlong.data(), overlong.size(), SocketTableReader::kAllStates,
                                                     {AF_INET}, out),
                 SocketTableReader::DumpPart::More);
        QVERIFY(out.empty());
    }

    // The kernel's socket diagnostics and its text tables describe the same sockets field
    // for field, and the state filter keeps exactly the states asked for.
    void diagnosticsAgreeWithTheTables()
    {
        std::vector<SocketEntry> probe;
        if (!SocketTableReader::readTcpDiagnostics(SocketTableReader::kAllStates, probe))
            QSKIP("this kernel refuses NETLINK_SOCK_DIAG; the tables serve instead");

        QTcpServer v4, v6;
        QVERIFY(v4.listen(QHostAddress::LocalHost));
        const bool haveV6 = v6.listen(QHostAddress::LocalHostIPv6);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, v4.serverPort());
        QVERIFY(client.waitForConnected(3000));
        QVERIFY(v4.waitForNewConnection(3000));
        std::unique_ptr<QTcpSocket> accepted(v4.nextPendingConnection());
        Ports ports{{v4.serverPort(), client.localPort()}, {}};
        if (haveV6)
            ports.v6 << v6.serverPort();

        const SocketTableReader live("/proc");
        const std::vector<Row> fromKernel = ours(live.readTcp(), ports);
        const std::vector<Row> fromTables = ours(live.readTcpTables(), ports);
        QCOMPARE(fromKernel.size(), size_t(haveV6 ? 4 : 3));   // the listeners and both ends
        QVERIFY(fromKernel == fromTables);
        std::vector<SocketEntry> perFamily;
        QVERIFY(SocketTableReader::readTcpDiagnostics(SocketTableReader::kAllStates, perFamily, false));
        QVERIFY(ours(perFamily, ports) == fromKernel);
        for (const Row &r : fromKernel)
            QVERIFY(std::get<7>(r) != 0);

        const std::vector<Row> listening = ours(live.readTcp(1u << SocketEntry::kListen), ports);
        QCOMPARE(listening.size(), size_t(haveV6 ? 2 : 1));
        for (const Row &r : listening) {
            QCOMPARE(std::get<5>(r), SocketEntry::kListen);
            QVERIFY(std::get<1>(r) == "127.0.0.1" || std::get<1>(r) == "::1");
        }
        const std::vector<Row> established = ours(live.readTcp(1u << SocketEntry::kEstablished), ports);
        QCOMPARE(established.size(), size_t(2));
        for (const Row &r : established) {
            QCOMPARE(std::get<5>(r), SocketEntry::kEstablished);
            QCOMPARE(std::get<3>(r), std::string("127.0.0.1"));
        }
    }

    // Any root but the live one is a fixture: its tables are read, filtered the same way.
    void fixtureRootsUseTheirTables()
    {
        FixtureTree tree;
        tree.write(QStringLiteral("net/tcp"),
                   ProcNetTcp::kHeader
                       + ProcNetTcp::line(0, ProcNetTcp::endpoint("127.0.0.1", 11434), ProcNetTcp::endpoint("0.0.0.0", 0), "0A", 501)
                       + ProcNetTcp::line(1, ProcNetTcp::endpoint("10.0.0.2", 40000), ProcNetTcp::endpoint("1.1.1.1", 443), "01", 502));
        const SocketTableReader reader(tree.root({}));
        QCOMPARE(reader.readTcp().size(), size_t(2));   // no tcp6: IPv4 alone
        const std::vector<SocketEntry> listening = reader.readTcp(1u << SocketEntry::kListen);
        QCOMPARE(listening.size(), size_t(1));
        QCOMPARE(listening[0].localPort, 11434);
        QCOMPARE(listening[0].inode, std::uint64_t(501));
        const std::vector<SocketEntry> established = reader.readTcp(1u << SocketEntry::kEstablished);
        QCOMPARE(established.size(), size_t(1));
        QCOMPARE(established[0].remoteAddress, std::string("1.1.1.1"));
    }

    // Failed attempts and traffic leave the reading alone; a connection coming or going
    // does not. Tables without the counters give none.
    void tcpActivityFromSnmp()
    {
        const auto snmp = [](int active, int passive, int failed, int resets, int established, int segments) {
            return QStringLiteral("Ip: Forwarding DefaultTTL\nIp: 1 64\n"
                                  "Tcp: RtoAlgorithm RtoMin RtoMax MaxConn ActiveOpens PassiveOpens AttemptFails "
                                  "EstabResets CurrEstab InSegs OutSegs\n"
                                  "Tcp: 1 200 120000 -1 %1 %2 %3 %4 %5 %6 %6\nUdp: InDatagrams\nUdp: 5\n")
                .arg(active).arg(passive).arg(failed).arg(resets).arg(established).arg(segments)
                .toStdString();
        };
        const std::optional<TcpActivity> base = SocketTableReader::parseTcpActivity(snmp(100, 20, 30, 4, 7, 1000));
        QVERIFY(base);
        QCOMPARE(base->established, std::uint64_t(7));
        QCOMPARE(base->opened, std::uint64_t(90));
        QCOMPARE(base->resets, std::uint64_t(4));
        QCOMPARE(SocketTableReader::parseTcpActivity(snmp(101, 20, 31, 4, 7, 5000)), base);   // refused, traffic
        QVERIFY(SocketTableReader::parseTcpActivity(snmp(101, 20, 30, 4, 7, 1000)) != base);  // one opened, one closed
        QVERIFY(SocketTableReader::parseTcpActivity(snmp(100, 20, 30, 5, 7, 1000)) != base);  // reset
        QVERIFY(SocketTableReader::parseTcpActivity(snmp(100, 20, 30, 4, 6, 1000)) != base);  // closed

        QVERIFY(!SocketTableReader::parseTcpActivity("Tcp: ActiveOpens PassiveOpens\nTcp: 1 2\n"));
        QVERIFY(!SocketTableReader::parseTcpActivity("Tcp: ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab\n"
                                                     "Tcp: 1 2 3 x 5\n"));
        QVERIFY(!SocketTableReader::parseTcpActivity(""));
        // This machine's own counters read.
        QVERIFY(SocketTableReader("/proc").readTcpActivity());
    }
};

QTEST_GUILESS_MAIN(TestSocketTableReader)
#include "tst_SocketTableReader.moc"

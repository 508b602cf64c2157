#pragma once

#include <QByteArray>
#include <QHostAddress>

#include <algorithm>

// Lines of /proc/net/tcp and tcp6 for fixture trees.
namespace ProcNetTcp {

inline const QByteArray kHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

inline QByteArray line(int slot, const char *local, const char *remote, const char *state, unsigned long inode,
                       unsigned uid = 1000)
{
    return QByteArray::number(slot) + ": " + local + ' ' + remote + ' ' + state
         + " 00000000:00000000 00:00000000 00000000  " + QByteArray::number(uid) + "        0 "
         + QByteArray::number(qulonglong(inode)) + " 1 0000000000000000 100 0 0 10 0\n";
}

// "address:port" as the kernel prints it: each 32-bit word of the address in host
// (little-endian) byte order, then the port in hex.
inline QByteArray endpoint(const QString &address, quint16 port)
{
    const QHostAddress host(address);
    QByteArray bytes;
    if (host.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 v4 = host.toIPv4Address();
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((v4 >> shift) & 0xff));
    } else {
        const Q_IPV6ADDR v6 = host.toIPv6Address();
        bytes = QByteArray(reinterpret_cast<const char *>(v6.c), 16);
    }
    QByteArray words;
    for (qsizetype i = 0; i < bytes.size(); i += 4) {
        QByteArray word = bytes.mid(i, 4);
        std::reverse(word.begin(), word.end());
        words += word.toHex().toUpper();
    }
    return words + ':' + QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
}

}

#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

// Sends `request` as it stands to 127.0.0.1:`port` and returns everything received until
// the server closes, or until `ms` passed. The event loop runs meanwhile, so a server on
// this very thread answers.
inline QByteArray exchange(quint16 port, const QByteArray &request, int ms = 5000)
{
    QTcpSocket client;
    QByteArray got;
    QEventLoop loop;
    QObject::connect(&client, &QTcpSocket::connected, &loop, [&] { client.write(request); });
    QObject::connect(&client, &QTcpSocket::readyRead, &loop, [&] { got += client.readAll(); });
    QObject::connect(&client, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&client, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    client.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    got += client.readAll();
    return got;
}

inline QByteArray scrape(quint16 port, const QByteArray &accept = {})
{
    QByteArray request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!accept.isEmpty())
        request += "Accept: " + accept + "\r\n";
    return exchange(port, request + "\r\n");
}

inline QByteArray bodyOf(const QByteArray &response)
{
    const qsizetype end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}

// promtool's verdict on an exposition in the classic text format: empty when it passes,
// else what it printed.
inline QByteArray promtoolProblems(const QByteArray &exposition)
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        return QByteArrayLiteral("promtool is not installed: ./scripts/deps installs Debian's prometheus package");
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.waitForStarted();
    check.write(exposition);
    check.closeWriteChannel();
    check.waitForFinished(30000);
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    if (check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0 && said.trimmed().isEmpty())
        return {};
    return said.isEmpty() ? QByteArrayLiteral("promtool failed without a word") : said;
}

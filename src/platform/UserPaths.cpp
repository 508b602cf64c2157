#include "UserPaths.h"

#include <QDir>
#include <QHostAddress>

namespace {
const QUrl kDefaultServer(QStringLiteral("http://127.0.0.1:11434"));

// "host:port" or "[v6]:port" split as a dialer splits it. False when there is no port part
// or the brackets and colons do not make one host and one port.
bool splitHostPort(const QString &text, QString &host, QString &port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype end = text.indexOf(QLatin1Char(']'));
        if (end < 0 || end + 1 != colon)
            return false;
        host = text.mid(1, end - 1);
    } else {
        host = text.left(colon);
        if (host.contains(QLatin1Char(':')))
            return false;   // a bare IPv6 address: no port can be told apart
    }
    if (host.contains(QLatin1Char('[')) || host.contains(QLatin1Char(']')))
        return false;
    port = text.mid(colon + 1);
    return true;
}

bool isPortNumber(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    return text.toInt() <= 65535;
}
}

UserPaths::UserPaths(QString homePath, Environment environment)
    : m_home(homePath.isEmpty() ? QDir::homePath() : std::move(homePath))
    , m_environment(std::move(environment))
{
}

QString UserPaths::variable(const char *name) const
{
    return m_environment ? m_environment(name) : qEnvironmentVariable(name);
}

QString UserPaths::absoluteVariable(const char *name) const
{
    const QString value = variable(name);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString UserPaths::configHome() const
{
    const QString value = absoluteVariable("XDG_CONFIG_HOME");
    return value.isEmpty() ? QDir(m_home).filePath(QStringLiteral(".config")) : value;
}

QString UserPaths::cacheHome() const
{
    const QString value = absoluteVariable("XDG_CACHE_HOME");
    return value.isEmpty() ? QDir(m_home).filePath(QStringLiteral(".cache")) : value;
}

QString UserPaths::dataHome() const
{
    const QString value = absoluteVariable("XDG_DATA_HOME");
    return value.isEmpty() ? QDir(m_home).filePath(QStringLiteral(".local/share")) : value;
}

QString UserPaths::huggingFaceHub() const
{
    if (const QString hubCache = absoluteVariable("HF_HUB_CACHE"); !hubCache.isEmpty())
        return hubCache;
    if (const QString hfHome = absoluteVariable("HF_HOME"); !hfHome.isEmpty())
        return QDir(hfHome).filePath(QStringLiteral("hub"));
    return QDir(cacheHome()).filePath(QStringLiteral("huggingface/hub"));
}

QString UserPaths::ollamaModels() const
{
    const QString value = ollamaValue(variable("OLLAMA_MODELS"));
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QDir(m_home).filePath(QStringLiteral(".ollama/models"));
}

QUrl UserPaths::ollamaServer() const
{
    return ollamaServerFor(variable("OLLAMA_HOST"));
}

QString UserPaths::ollamaValue(const QString &raw)
{
    const QString text = raw.trimmed();
    qsizetype first = 0;
    qsizetype last = text.size();
    const auto isQuote = [](QChar c) { return c == QLatin1Char('"') || c == QLatin1Char('\''); };
    while (first < last && isQuote(text.at(first)))
        ++first;
    while (last > first && isQuote(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

QUrl UserPaths::ollamaServerFor(const QString &ollamaHost)
{
    const QString text = ollamaValue(ollamaHost).trimmed();
    QString scheme = QStringLiteral("http");
    int defaultPort = kOllamaPort;
    QString hostPort = text;
    if (const qsizetype separator = text.indexOf(QLatin1String("://")); separator >= 0) {
        scheme = text.left(separator).toLower();
        hostPort = text.mid(separator + 3);
        // Named explicitly, a scheme brings its own port, as it would in a browser.
        if (scheme == QLatin1String("http"))
            defaultPort = 80;
        else if (scheme == QLatin1String("https"))
            defaultPort = 443;
    }
    hostPort = hostPort.section(QLatin1Char('/'), 0, 0);

    QString host;
    QString port;
    if (!splitHostPort(hostPort, host, port)) {
        // No port: the whole is the host, an address possibly in brackets.
        host = QStringLiteral("127.0.0.1");
        QString bare = hostPort;
        while (bare.startsWith(QLatin1Char('[')))
            bare.remove(0, 1);
        while (bare.endsWith(QLatin1Char(']')))
            bare.chop(1);
        if (const QHostAddress address(bare); !address.isNull())
            host = address.toString();
        else if (!hostPort.isEmpty())
            host = hostPort;
    }
    const int portNumber = isPortNumber(port) ? port.toInt() : defaultPort;

    // A server listening on every address is reached on loopback, in its own family.
    const QHostAddress address(host);
    if (host.isEmpty() || address == QHostAddress(QHostAddress::AnyIPv4))
        host = QStringLiteral("127.0.0.1");
    else if (address == QHostAddress(QHostAddress::AnyIPv6))
        host = QStringLiteral("::1");

    QUrl url;
    url.setScheme(scheme);
    url.setHost(host);
    url.setPort(portNumber);
    return url.isValid() && !url.host().isEmpty() ? url : kDefaultServer;
}

#include "AutoUpdater.h"

#include "platform/BoundedHttpGet.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

#include <cstdio>
#include <utility>

#ifndef QUILLMOOR_UPDATE_SERVER
#define QUILLMOOR_UPDATE_SERVER "https://updates.quillmoor.app"
#endif

namespace {
const QString kParseFailure = QStringLiteral("Failed to parse update information");

// Releases are numbered major.minor.patch in ASCII digits, nothing else: a NUL, a sign or
// a suffix in the version of a manifest is not a release this app offers.
bool isReleaseVersion(const QString &version)
{
    static const QRegularExpression strict(QStringLiteral("^[0-9]{1,9}\\.[0-9]{1,9}\\.[0-9]{1,9}$"));
    return strict.match(version).hasMatch();
}

bool isThisMachine(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
}

AutoUpdater::AutoUpdater(UpdaterSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    if (m_sources.runningVersion.isEmpty())
        m_sources.runningVersion = QStringLiteral(QUILLMOOR_VERSION);
    // A server on this machine (a test, a private mirror) is never reached through a proxy.
    if (isThisMachine(m_sources.server.host()))
        m_network.setProxy(QNetworkProxy::NoProxy);
}

QUrl AutoUpdater::serverFor(const QString &setting)
{
    const QString chosen = setting.trimmed();
    return QUrl(chosen.isEmpty() ? QStringLiteral(QUILLMOOR_UPDATE_SERVER) : chosen);
}

QUrl AutoUpdater::endpointFor(const QUrl &server)
{
    const QString path = server.path(QUrl::FullyEncoded);
    if (!server.isValid() || server.host().isEmpty() || (!path.isEmpty() && path != QLatin1String("/"))
        || server.hasQuery() || server.hasFragment() || !server.userInfo().isEmpty())
        return {};
    const QString scheme = server.scheme().toLower();
    if (scheme != QLatin1String("https") && !(scheme == QLatin1String("http") && isThisMachine(server.host())))
        return {};
    QUrl endpoint = server;
    endpoint.setPath(QLatin1String(kPath));
    return endpoint;
}

int AutoUpdater::compareVersions(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            // Compared as digit strings without their leading zeros, so any length works.
            while (i < a.size() && a.at(i) == QLatin1Char('0'))
                ++i;
            while (j < b.size() && b.at(j) == QLatin1Char('0'))
                ++j;
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a.at(endA).isDigit())
                ++endA;
            while (endB < b.size() && b.at(endB).isDigit())
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            const int digits = QStringView(a).mid(i, endA - i).compare(QStringView(b).mid(j, endB - j));
            if (digits != 0)
                return digits < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i).unicode() < b.at(j).unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    return aLeft == bLeft ? 0 : (aLeft ? 1 : -1);
}

void AutoUpdater::checkForUpdates()
{
    if (m_isChecking)
        return;
    setIsChecking(true);
    setErrorMessage({});

    const QUrl endpoint = endpointFor(m_sources.server);
    if (!endpoint.isValid()) {
        finish(QStringLiteral("Invalid update server URL"));
        return;
    }
    BoundedHttpGet::get(m_network, QNetworkRequest(endpoint), {kMaxManifestBytes, m_sources.timeoutMs}, this,
                        [this](const BoundedReply &reply) { readManifest(reply); });
}

std::optional<UpdateManifest> AutoUpdater::parseManifest(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonObject manifest = document.object();
    const QJsonValue version = manifest.value(QStringLiteral("version"));
    const QJsonValue download = manifest.value(QStringLiteral("download_url"));
    const QUrl downloadURL(download.toString(), QUrl::StrictMode);
    const QString downloadScheme = downloadURL.scheme().toLower();
    // The link is offered to the user to open: only a web address qualifies.
    if (!document.isObject() || !version.isString() || !isReleaseVersion(version.toString()) || !download.isString()
        || !downloadURL.isValid()
        || downloadURL.isRelative() || downloadURL.host().isEmpty()
        || (downloadScheme != QLatin1String("https") && downloadScheme != QLatin1String("http")))
        return std::nullopt;
    const QJsonValue notes = manifest.value(QStringLiteral("release_notes"));
    return UpdateManifest {version.toString(), downloadURL, notes.isString() ? notes.toString() : QString()};
}

void AutoUpdater::readManifest(const BoundedReply &reply)
{
    switch (reply.outcome) {
    case BoundedReply::Answered:
        break;
    case BoundedReply::TooLarge:
    case BoundedReply::Redirected:
        std::printf("Auto-update check refused: %s\n", qPrintable(reply.error));
        std::fflush(stdout);
        finish(reply.outcome == BoundedReply::TooLarge ? QStringLiteral("Update information too large")
                                                       : QStringLiteral("Update server redirected to another host"));
        return;
    default:
        std::printf("Auto-update check failed: %s\n", qPrintable(reply.error));
        std::fflush(stdout);
        finish(QStringLiteral("Update check failed. Please check your internet connection."));
        return;
    }
    if (reply.status != 200) {
        finish(QStringLiteral("Update server returned code ") + QString::number(reply.status));
        return;
    }
    // A 200 whose body broke off half-way is as unreadable as a bad one.
    if (!reply.complete) {
        finish(kParseFailure);
        return;
    }
    const std::optional<UpdateManifest> manifest = parseManifest(reply.body);
    if (!manifest) {
        finish(kParseFailure);
        return;
    }
    if (compareVersions(manifest->version, m_sources.runningVersion) > 0) {
        if (m_latestVersion != manifest->version) {
            m_latestVersion = manifest->version;
            Q_EMIT latestVersionChanged();
        }
        if (m_downloadURL != manifest->downloadURL) {
            m_downloadURL = manifest->downloadURL;
            Q_EMIT downloadURLChanged();
        }
        const QString &releaseNotes = manifest->releaseNotes;
        if (m_releaseNotes != releaseNotes || m_releaseNotes.isNull() != releaseNotes.isNull()) {
            m_releaseNotes = releaseNotes;
            Q_EMIT releaseNotesChanged();
        }
        if (!m_updateAvailable) {
            m_updateAvailable = true;
            Q_EMIT updateAvailableChanged();
        }
    } else if (m_updateAvailable) {
        m_updateAvailable = false;
        Q_EMIT updateAvailableChanged();
    }
    if (!m_hasChecked) {
        m_hasChecked = true;
        Q_EMIT hasCheckedChanged();
    }
    finish({});
}

void AutoUpdater::finish(const QString &error)
{
    if (!error.isEmpty()) {
        // What an earlier check found is not shown beside the error as if it still held.
        if (!m_latestVersion.isNull()) {
            m_latestVersion = QString();
            Q_EMIT latestVersionChanged();
        }
        if (!m_downloadURL.isEmpty()) {
            m_downloadURL = QUrl();
            Q_EMIT downloadURLChanged();
        }
        if (!m_releaseNotes.isNull()) {
            m_releaseNotes = QString();
            Q_EMIT releaseNotesChanged();
        }
        if (m_updateAvailable) {
            m_updateAvailable = false;
            Q_EMIT updateAvailableChanged();
        }
        setErrorMessage(error);
    }
    setIsChecking(false);
    Q_EMIT checkFinished();
}

void AutoUpdater::setIsChecking(bool on)
{
    if (m_isChecking == on)
        return;
    m_isChecking = on;
    Q_EMIT isCheckingChanged();
}

void AutoUpdater::setErrorMessage(const QString &text)
{
    if (m_errorMessage == text)
        return;
    m_errorMessage = text;
    Q_EMIT errorMessageChanged();
}

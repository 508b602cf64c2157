#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

struct BoundedReply;

// What the update host's manifest says of its newest release.
struct UpdateManifest
{
    QString version;        // major.minor.patch
    QUrl downloadURL;       // an absolute http(s) address
    QString releaseNotes;   // null when the manifest has none
};

struct UpdaterSources
{
    QUrl server;             // scheme and host of the update endpoint; see AutoUpdater::serverFor
    QString runningVersion;  // empty: this build's version
    int timeoutMs = 6000;
};

// Asks the update host for the newest release and publishes whether it is newer than this
// build. It never downloads or installs anything, and checks only when asked.
class AutoUpdater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(QString latestVersion READ latestVersion NOTIFY latestVersionChanged)
    Q_PROPERTY(QUrl downloadURL READ downloadURL NOTIFY downloadURLChanged)
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY releaseNotesChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateAvailableChanged)
    Q_PROPERTY(bool hasChecked READ hasChecked NOTIFY hasCheckedChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)

public:
    static constexpr char kPath[] = "/api/quillmoor-version";
    // A manifest is a few lines of JSON; anything larger is not one.
    static constexpr qint64 kMaxManifestBytes = 64 * 1024;

    explicit AutoUpdater(UpdaterSources sources = {}, QObject *parent = nullptr);
    static AutoUpdater &shared();

    // The preference's host when set, else the one this build was configured with.
    static QUrl serverFor(const QString &setting);
    // The endpoint on `server`: HTTPS, or plain HTTP to this machine only. Invalid otherwise.
    static QUrl endpointFor(const QUrl &server);
    // Digit runs compare by value, other characters by code; a prefix orders first.
    // Negative, zero or positive, as `a` orders before, with or after `b`.
    static int compareVersions(const QString &a, const QString &b);
    // A manifest body: a JSON object with a release "version", an http(s) "download_url"
    // and optional "release_notes". Null when it is not one.
    static std::optional<UpdateManifest> parseManifest(const QByteArray &body);

    // One check; a call while one is running returns at once.
    Q_INVOKABLE void checkForUpdates();

    bool isChecking() const { return m_isChecking; }
    // Null strings and an empty URL stand for "absent".
    QString latestVersion() const { return m_latestVersion; }
    QUrl downloadURL() const { return m_downloadURL; }
    QString releaseNotes() const { return m_releaseNotes; }
    bool updateAvailable() const { return m_updateAvailable; }
    bool hasChecked() const { return m_hasChecked; }
    QString errorMessage() const { return m_errorMessage; }
    QString runningVersion() const { return m_sources.runningVersion; }

Q_SIGNALS:
    void isCheckingChanged();
    void latestVersionChanged();
    void downloadURLChanged();
    void releaseNotesChanged();
    void updateAvailableChanged();
    void hasCheckedChanged();
    void errorMessageChanged();
    // Once per check, when it has ended either way.
    void checkFinished();

private:
    void readManifest(const BoundedReply &reply);
    void finish(const QString &error);
    void setIsChecking(bool on);
    void setErrorMessage(const QString &text);

    UpdaterSources m_sources;
    QNetworkAccessManager m_network;
    bool m_isChecking = false;
    QString m_latestVersion;
    QUrl m_downloadURL;
    QString m_releaseNotes;
    bool m_updateAvailable = false;
    bool m_hasChecked = false;
    QString m_errorMessage;
};

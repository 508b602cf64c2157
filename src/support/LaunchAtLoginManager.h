#pragma once

#include <QObject>
#include <QString>

struct LaunchAtLoginSources
{
    QString configHome;       // empty: $XDG_CONFIG_HOME, else ~/.config
    QString executablePath;   // empty: this program's absolute path
};

// Keeps the "Launch at Login" switch in step with the desktop's autostart entry,
// $XDG_CONFIG_HOME/autostart/quillmoor.desktop, which the session starts at login.
class LaunchAtLoginManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)

public:
    // Enabled: the entry is there, ours, and neither hidden nor switched off by the
    // desktop. Everything else counts as not enabled.
    enum class Status { Enabled, NotRegistered, Disabled, NotOurs };

    explicit LaunchAtLoginManager(LaunchAtLoginSources sources = {}, QObject *parent = nullptr);
    static LaunchAtLoginManager &shared();

    bool isEnabled() const { return m_isEnabled; }
    // Every assignment brings the entry in line with the value. A change that fails turns
    // the switch back to what the desktop will actually do.
    void setIsEnabled(bool on);
    Q_INVOKABLE void refreshStatus();

    Status status() const;
    QString entryPath() const;
    QString executablePath() const { return m_sources.executablePath; }
    // The entry's text for `executable`.
    static QByteArray entryFor(const QString &executable);
    // `path` as one argument of a desktop entry's Exec key.
    static QString quotedExecArgument(const QString &path);

Q_SIGNALS:
    void isEnabledChanged();
    void logged(const QString &line);

private:
    void updateLaunchAtLogin(bool enabled);
    // The error's text, or empty on success.
    QString registerEntry() const;
    QString unregisterEntry() const;
    void log(const QString &line);

    LaunchAtLoginSources m_sources;
    bool m_isEnabled = false;
};

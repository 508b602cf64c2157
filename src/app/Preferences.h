#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <memory>

class QSettings;

// Key names of the per-user preferences store.
namespace PreferenceKeys {
inline constexpr char appTheme[] = "appTheme";
inline constexpr char workspacePersona[] = "workspacePersona";
inline constexpr char advancedMode[] = "advancedMode";
inline constexpr char cpuAlertThreshold[] = "cpuAlertThreshold";
inline constexpr char showFullProcessPath[] = "showFullProcessPath";
inline constexpr char showOnboardingTour[] = "showOnboardingTour";
inline constexpr char onboardingTourStep[] = "onboardingTourStep";
inline constexpr char hasCompletedOnboardingTour[] = "hasCompletedOnboardingTour";
inline constexpr char smartPauseEnabled[] = "smartPauseEnabled";
inline constexpr char metricsEndpointEnabled[] = "metricsEndpointEnabled";
inline constexpr char metricsEndpointAddress[] = "metricsEndpointAddress";
inline constexpr char baselineCpuUsage[] = "baselineCpuUsage";
inline constexpr char baselineTemp[] = "baselineTemp";
// Set by hand in the settings file, for a private update host.
inline constexpr char updateServerURL[] = "updateServerURL";
}

// The user's persistent settings (QSettings, organisation and application "Quillmoor").
// Every key reads as its default until written. Screens bind to the properties, so a
// change made on one screen shows on every other.
//
// The two telemetry baselines change every second; they are kept in memory and written to
// the store at most once a minute (and when the object goes away) instead of rewriting
// the settings file on every tick.
class Preferences : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString appTheme READ appTheme WRITE setAppTheme NOTIFY appThemeChanged)
    Q_PROPERTY(QString workspacePersona READ workspacePersona WRITE setWorkspacePersona NOTIFY workspacePersonaChanged)
    Q_PROPERTY(bool advancedMode READ advancedMode WRITE setAdvancedMode NOTIFY advancedModeChanged)
    Q_PROPERTY(double cpuAlertThreshold READ cpuAlertThreshold WRITE setCpuAlertThreshold NOTIFY cpuAlertThresholdChanged)
    Q_PROPERTY(bool showFullProcessPath READ showFullProcessPath WRITE setShowFullProcessPath NOTIFY showFullProcessPathChanged)
    Q_PROPERTY(bool showOnboardingTour READ showOnboardingTour WRITE setShowOnboardingTour NOTIFY showOnboardingTourChanged)
    Q_PROPERTY(int onboardingTourStep READ onboardingTourStep WRITE setOnboardingTourStep NOTIFY onboardingTourStepChanged)
    Q_PROPERTY(bool hasCompletedOnboardingTour READ hasCompletedOnboardingTour WRITE setHasCompletedOnboardingTour NOTIFY hasCompletedOnboardingTourChanged)
    Q_PROPERTY(bool smartPauseEnabled READ smartPauseEnabled WRITE setSmartPauseEnabled NOTIFY smartPauseEnabledChanged)
    Q_PROPERTY(bool metricsEndpointEnabled READ metricsEndpointEnabled WRITE setMetricsEndpointEnabled NOTIFY metricsEndpointChanged)
    Q_PROPERTY(QString metricsEndpointAddress READ metricsEndpointAddress WRITE setMetricsEndpointAddress NOTIFY metricsEndpointChanged)

public:
    // Takes ownership of `settings`; tests hand in one backed by a temporary file.
    explicit Preferences(QSettings *settings, QObject *parent = nullptr);
    ~Preferences() override;

    static Preferences &shared();

    // The stored raw string; ThemeManager decides what an unknown one means.
    QString appTheme() const;
    void setAppTheme(const QString &raw);

    // A stored string that names no persona reads as "AI Engineer".
    QString workspacePersona() const;
    void setWorkspacePersona(const QString &raw);

    bool advancedMode() const;
    void setAdvancedMode(bool on);
    double cpuAlertThreshold() const;
    void setCpuAlertThreshold(double percent);
    bool showFullProcessPath() const;
    void setShowFullProcessPath(bool on);
    bool showOnboardingTour() const;
    void setShowOnboardingTour(bool on);
    int onboardingTourStep() const;
    void setOnboardingTourStep(int step);
    bool hasCompletedOnboardingTour() const;
    void setHasCompletedOnboardingTour(bool done);
    bool smartPauseEnabled() const;
    void setSmartPauseEnabled(bool on);
    // The metrics endpoint: off until switched on; on loopback until another address is typed.
    bool metricsEndpointEnabled() const;
    void setMetricsEndpointEnabled(bool on);
    QString metricsEndpointAddress() const;
    void setMetricsEndpointAddress(const QString &address);

    double baselineCpuUsage() const { return m_baselineCpuUsage; }
    void setBaselineCpuUsage(double value);
    double baselineTemp() const { return m_baselineTemp; }
    void setBaselineTemp(double value);

    // Empty unless set: the build's update host is used then.
    QString updateServerURL() const;
    void setUpdateServerURL(const QString &url);

    // Writes pending baselines and syncs the store.
    void flush();

Q_SIGNALS:
    void appThemeChanged();
    void workspacePersonaChanged();
    void advancedModeChanged();
    void cpuAlertThresholdChanged();
    void showFullProcessPathChanged();
    void showOnboardingTourChanged();
    void onboardingTourStepChanged();
    void hasCompletedOnboardingTourChanged();
    void smartPauseEnabledChanged();
    void metricsEndpointChanged();

private:
    QVariant read(const char *key, const QVariant &fallback) const;
    // Stores `value` and reports whether it differs from what was there before.
    bool write(const char *key, const QVariant &value);
    void markBaselinesDirty();
    // Brings every stored number into its range once, at start.
    void sanitize();

    std::unique_ptr<QSettings> m_settings;
    double m_baselineCpuUsage = 0;
    double m_baselineTemp = 0;
    bool m_baselinesDirty = false;
    QTimer m_baselineWriter;
};

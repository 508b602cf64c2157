#include "Preferences.h"

#include "exporter/MetricsEndpoint.h"

#include "WorkspacePersona.h"

#include <QCoreApplication>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr int kBaselineWriteIntervalMs = 60'000;
constexpr double kDefaultCpuAlertThreshold = 90.0;
// The alert slider's range: below 50 % the alert would fire on ordinary work, every second.
constexpr double kMinCpuAlertThreshold = 50.0;
constexpr double kMaxCpuAlertThreshold = 100.0;
constexpr int kLastTourStep = 5;
constexpr double kMaxBaselineTemp = 150.0;   // °C; no sensor of a running machine reads more

// `value` within [low, high]; a value that is not a finite number falls back to `fallback`.
double bounded(double value, double low, double high, double fallback)
{
    return std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}
}

Preferences::Preferences(QSettings *settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    sanitize();
    m_baselineCpuUsage = read(PreferenceKeys::baselineCpuUsage, 0.0).toDouble();
    m_baselineTemp = read(PreferenceKeys::baselineTemp, 0.0).toDouble();
    m_baselineWriter.setSingleShot(true);
    m_baselineWriter.setInterval(kBaselineWriteIntervalMs);
    connect(&m_baselineWriter, &QTimer::timeout, this, &Preferences::flush);
}

Preferences::~Preferences()
{
    flush();
}

void Preferences::sanitize()
{
    // A settings file edited by hand, or written by a build with other limits, is taken as
    // far as it makes sense: each number outside its range is brought into it, and one
    // that is not a number at all goes back to its default, each said in one line.
    const auto repair = [this](const char *key, double low, double high, double fallback) {
        const QString name = QLatin1String(key);
        if (!m_settings->contains(name))
            return;
        const QVariant stored = m_settings->value(name);
        bool ok = false;
        const double value = stored.toDouble(&ok);
        const double fixed = ok ? bounded(value, low, high, fallback) : fallback;
        if (ok && fixed == value)
            return;
        std::printf("Settings: %s=%s is out of range; using %g\n", key, qPrintable(stored.toString()), fixed);
        std::fflush(stdout);
        m_settings->setValue(name, fixed);
    };
    repair(PreferenceKeys::cpuAlertThreshold, kMinCpuAlertThreshold, kMaxCpuAlertThreshold, kDefaultCpuAlertThreshold);
    repair(PreferenceKeys::baselineCpuUsage, 0.0, 100.0, 0.0);
    repair(PreferenceKeys::baselineTemp, 0.0, kMaxBaselineTemp, 0.0);
    repair(PreferenceKeys::onboardingTourStep, 0, kLastTourStep, 0);
}

QVariant Preferences::read(const char *key, const QVariant &fallback) const
{
    return m_settings->value(QLatin1String(key), fallback);
}

bool Preferences::write(const char *key, const QVariant &value)
{
    const QString name = QLatin1String(key);
    const bool changed = m_settings->value(name) != value;
    m_settings->setValue(name, value);
    return changed;
}

QString Preferences::appTheme() const
{
    return read(PreferenceKeys::appTheme, QStringLiteral("Standard")).toString();
}

void Preferences::setAppTheme(const QString &raw)
{
    if (write(PreferenceKeys::appTheme, raw))
        Q_EMIT appThemeChanged();
}

QString Preferences::workspacePersona() const
{
    const QString raw = read(PreferenceKeys::workspacePersona, QString()).toString();
    return WorkspacePersona::fromRawValue(raw).value_or(WorkspacePersona::AiEngineer).rawValue();
}

void Preferences::setWorkspacePersona(const QString &raw)
{
    if (write(PreferenceKeys::workspacePersona, raw))
        Q_EMIT workspacePersonaChanged();
}

bool Preferences::advancedMode() const { return read(PreferenceKeys::advancedMode, false).toBool(); }
void Preferences::setAdvancedMode(bool on)
{
    if (write(PreferenceKeys::advancedMode, on))
        Q_EMIT advancedModeChanged();
}

double Preferences::cpuAlertThreshold() const
{
    bool ok = false;
    const double value = read(PreferenceKeys::cpuAlertThreshold, kDefaultCpuAlertThreshold).toDouble(&ok);
    return ok ? bounded(value, kMinCpuAlertThreshold, kMaxCpuAlertThreshold, kDefaultCpuAlertThreshold)
              : kDefaultCpuAlertThreshold;
}
void Preferences::setCpuAlertThreshold(double percent)
{
    if (write(PreferenceKeys::cpuAlertThreshold,
              bounded(percent, kMinCpuAlertThreshold, kMaxCpuAlertThreshold, kDefaultCpuAlertThreshold)))
        Q_EMIT cpuAlertThresholdChanged();
}

QString Preferences::updateServerURL() const { return read(PreferenceKeys::updateServerURL, QString()).toString(); }
void Preferences::setUpdateServerURL(const QString &url) { write(PreferenceKeys::updateServerURL, url); }

bool Preferences::showFullProcessPath() const { return read(PreferenceKeys::showFullProcessPath, false).toBool(); }
void Preferences::setShowFullProcessPath(bool on)
{
    if (write(PreferenceKeys::showFullProcessPath, on))
        Q_EMIT showFullProcessPathChanged();
}

bool Preferences::showOnboardingTour() const { return read(PreferenceKeys::showOnboardingTour, false).toBool(); }
void Preferences::setShowOnboardingTour(bool on)
{
    if (write(PreferenceKeys::showOnboardingTour, on))
        Q_EMIT showOnboardingTourChanged();
}

int Preferences::onboardingTourStep() const
{
    return std::clamp(read(PreferenceKeys::onboardingTourStep, 0).toInt(), 0, kLastTourStep);
}
void Preferences::setOnboardingTourStep(int step)
{
    if (write(PreferenceKeys::onboardingTourStep, std::clamp(step, 0, kLastTourStep)))
        Q_EMIT onboardingTourStepChanged();
}

bool Preferences::hasCompletedOnboardingTour() const { return read(PreferenceKeys::hasCompletedOnboardingTour, false).toBool(); }
void Preferences::setHasCompletedOnboardingTour(bool done)
{
    if (write(PreferenceKeys::hasCompletedOnboardingTour, done))
        Q_EMIT hasCompletedOnboardingTourChanged();
}

bool Preferences::smartPauseEnabled() const { return read(PreferenceKeys::smartPauseEnabled, false).toBool(); }
void Preferences::setSmartPauseEnabled(bool on)
{
    if (write(PreferenceKeys::smartPauseEnabled, on))
        Q_EMIT smartPauseEnabledChanged();
}

bool Preferences::metricsEndpointEnabled() const
{
    return read(PreferenceKeys::metricsEndpointEnabled, false).toBool();
}

void Preferences::setMetricsEndpointEnabled(bool on)
{
    if (write(PreferenceKeys::metricsEndpointEnabled, on))
        Q_EMIT metricsEndpointChanged();
}

QString Preferences::metricsEndpointAddress() const
{
    const QString address = read(PreferenceKeys::metricsEndpointAddress, QString()).toString().trimmed();
    return address.isEmpty() ? QString::fromLatin1(MetricsEndpoint::kDefaultAddress) : address;
}

void Preferences::setMetricsEndpointAddress(const QString &address)
{
    if (write(PreferenceKeys::metricsEndpointAddress, address.trimmed()))
        Q_EMIT metricsEndpointChanged();
}

// A baseline is an average that every later value is folded into: one NaN or infinity
// would stay in it for ever, so such a value is not taken.
void Preferences::setBaselineCpuUsage(double value)
{
    if (!std::isfinite(value))
        return;
    m_baselineCpuUsage = std::clamp(value, 0.0, 100.0);
    markBaselinesDirty();
}

void Preferences::setBaselineTemp(double value)
{
    if (!std::isfinite(value))
        return;
    m_baselineTemp = std::clamp(value, 0.0, kMaxBaselineTemp);
    markBaselinesDirty();
}

void Preferences::markBaselinesDirty()
{
    m_baselinesDirty = true;
    if (!m_baselineWriter.isActive())
        m_baselineWriter.start();
}

void Preferences::flush()
{
    if (m_baselinesDirty) {
        m_settings->setValue(QLatin1String(PreferenceKeys::baselineCpuUsage), m_baselineCpuUsage);
        m_settings->setValue(QLatin1String(PreferenceKeys::baselineTemp), m_baselineTemp);
        m_baselinesDirty = false;
    }
    m_baselineWriter.stop();
    m_settings->sync();
}

#include "Preferences.h"

#include "exporter/MetricsEndpoint.h"

#include "WorkspacePersona.h"

#include <QCoreApplication>
#include <QSettings>

namespace {
constexpr int kBaselineWriteIntervalMs = 60'000;
}

Preferences::Preferences(QSettings *settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
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
    const double value = read(PreferenceKeys::cpuAlertThreshold, 90.0).toDouble(&ok);
    return ok ? value : 90.0;
}
void Preferences::setCpuAlertThreshold(double percent)
{
    if (write(PreferenceKeys::cpuAlertThreshold, percent))
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

int Preferences::onboardingTourStep() const { return read(PreferenceKeys::onboardingTourStep, 0).toInt(); }
void Preferences::setOnboardingTourStep(int step)
{
    if (write(PreferenceKeys::onboardingTourStep, step))
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

void Preferences::setBaselineCpuUsage(double value)
{
    m_baselineCpuUsage = value;
    markBaselinesDirty();
}

void Preferences::setBaselineTemp(double value)
{
    m_baselineTemp = value;
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

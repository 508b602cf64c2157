#include "SmartPause.h"

#include <QStringList>

#include <cmath>

namespace {
QString celsius(double value)
{
    return QStringLiteral("%1 °C").arg(std::lround(value));
}

QString percent(double value)
{
    return QStringLiteral("%1 %").arg(std::lround(value));
}
}

SmartPause::SmartPause(SmartPauseInputs inputs, SmartPauseActions actions)
    : m_inputs(std::move(inputs))
    , m_actions(std::move(actions))
{
}

SmartPause::Reading SmartPause::read() const
{
    Reading r;
    r.enabled = m_inputs.enabled && m_inputs.enabled();
    if (!r.enabled)
        return r;   // the sensors are not worth reading for a switch that is off
    if (m_inputs.cpuTemperature)
        r.cpuTemperature = m_inputs.cpuTemperature();
    if (m_inputs.batteryPercent)
        r.batteryPercent = m_inputs.batteryPercent();
    r.unplugged = m_inputs.isUnplugged && m_inputs.isUnplugged();
    return r;
}

QString SmartPause::cause(const Reading &reading, bool holding)
{
    if (!reading.enabled)
        return {};
    QStringList causes;
    // A lost reading neither starts nor prolongs a pause: holding the server frozen on a
    // figure that is no longer there could last forever.
    if (const auto t = reading.cpuTemperature; t && (holding ? *t > kCooledAtOrBelowC : *t > kHotAboveC))
        causes << QStringLiteral("CPU at %1").arg(celsius(*t));
    // The battery needs no margin: the charge does not climb back while unplugged, and
    // plugging in is a deliberate act.
    if (const auto b = reading.batteryPercent; b && reading.unplugged && *b < kLowBatteryBelowPercent)
        causes << QStringLiteral("battery at %1 on battery power").arg(percent(*b));
    return causes.join(QStringLiteral(" and "));
}

bool SmartPause::apply()
{
    const Reading reading = read();
    const QString why = cause(reading, m_active);
    if (!m_active && !why.isEmpty()) {
        start(why);
        return true;
    }
    if (m_active && why.isEmpty()) {
        end(reading);
        return true;
    }
    return false;
}

void SmartPause::start(const QString &why)
{
    m_active = true;
    const QList<int> pids = m_actions.localAIPids ? m_actions.localAIPids() : QList<int>{};
    for (int pid : pids)
        if (m_actions.freeze && m_actions.freeze(pid))
            m_held.append(pid);
    m_actions.log(QStringLiteral("Smart Pause: %1, pausing %2 local AI process(es)").arg(why).arg(m_held.size()));
}

void SmartPause::end(const Reading &reading)
{
    QString why;
    if (!reading.enabled) {
        why = QStringLiteral("switched off");
    } else {
        QStringList state;
        state << (reading.cpuTemperature ? QStringLiteral("CPU at %1").arg(celsius(*reading.cpuTemperature))
                                         : QStringLiteral("no CPU temperature reading"));
        if (reading.batteryPercent)
            state << (reading.unplugged ? QStringLiteral("battery at %1").arg(percent(*reading.batteryPercent))
                                        : QStringLiteral("on mains power"));
        why = state.join(QStringLiteral(", "));
    }
    int thawed = 0;
    int kept = 0;
    for (int pid : std::as_const(m_held)) {
        if (m_actions.heldByCompileGuard && m_actions.heldByCompileGuard(pid)) {
            ++kept;
            continue;
        }
        m_actions.thaw(pid);
        ++thawed;
    }
    m_held.clear();
    m_active = false;
    QString line = QStringLiteral("Smart Pause: %1, resuming %2 local AI process(es)").arg(why).arg(thawed);
    if (kept > 0)
        line += QStringLiteral("; %1 stay(s) held by the compile guard").arg(kept);
    m_actions.log(line);
}

#pragma once

#include "PerformancePreset.h"

#include <QObject>

// The preset engine. For now it only knows which preset is active, so the preset menu can
// show it; applying presets comes with the engine itself.
class PresetManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString activePreset READ activePresetName NOTIFY activePresetChanged)

public:
    explicit PresetManager(QObject *parent = nullptr);

    static PresetManager &shared();

    PerformancePreset activePreset() const { return m_activePreset; }
    QString activePresetName() const { return m_activePreset.rawValue(); }

Q_SIGNALS:
    void activePresetChanged();

protected:
    void setActivePreset(PerformancePreset preset);

private:
    PerformancePreset m_activePreset = PerformancePreset::VanillaMac;
};

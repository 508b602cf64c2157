#include "PresetManager.h"

PresetManager::PresetManager(QObject *parent)
    : QObject(parent)
{
}

PresetManager &PresetManager::shared()
{
    static PresetManager *instance = new PresetManager;
    return *instance;
}

void PresetManager::setActivePreset(PerformancePreset preset)
{
    if (preset == m_activePreset)
        return;
    m_activePreset = preset;
    Q_EMIT activePresetChanged();
}

#include "PresetMenuView.h"

#include "SymbolIcon.h"
#include "presets/PerformancePreset.h"
#include "presets/PresetManager.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

PresetMenuView::PresetMenuView(PresetManager &presets, QObject *parent)
    : QObject(parent)
    , m_presets(presets)
    , m_menu(std::make_unique<QMenu>(QStringLiteral("Performance Presets")))
{
    m_entries = new QActionGroup(m_menu.get());
    m_entries->setExclusive(true);
    for (const PerformancePreset &preset : PerformancePreset::allCases()) {
        // "&" would mark a mnemonic in a menu entry; doubled it is shown as itself.
        QAction *action = m_menu->addAction(SymbolIcon::icon(preset.icon()),
                                            entryText(preset).replace(QLatin1Char('&'), QLatin1String("&&")));
        action->setCheckable(true);
        action->setData(preset.rawValue());
        // The active preset's entry applies it again, as any other does.
        connect(action, &QAction::triggered, this, [this, preset] { m_presets.applyPreset(preset); });
        m_entries->addAction(action);
    }
    m_menu->addSeparator();
    m_status = m_menu->addAction(QString());
    m_status->setEnabled(false);
    m_battery = m_menu->addAction(QString());
    m_battery->setEnabled(false);

    connect(&m_presets, &PresetManager::activePresetChanged, this, &PresetMenuView::update);
    connect(&m_presets, &PresetManager::currentStatusChanged, this, &PresetMenuView::update);
    connect(&m_presets, &PresetManager::batteryStatusChanged, this, &PresetMenuView::update);
    update();
}

PresetMenuView::~PresetMenuView() = default;

QString PresetMenuView::shortDescription(const PerformancePreset &preset)
{
    switch (preset.value()) {
    case PerformancePreset::InferenceMax: return QStringLiteral("Optimize VRAM & Max Fans");
    case PerformancePreset::LocalTraining: return QStringLiteral("Sleep Overrides & Core Boosting");
    case PerformancePreset::CompileMax: return QStringLiteral("Suspend Background Engines & Boost Build");
    case PerformancePreset::CreativeMax: return QStringLiteral("Flush VRAM & Prioritize Renderers");
    case PerformancePreset::GameMode: return QStringLiteral("Suspend Heavy Processes & Spool Fans");
    case PerformancePreset::EcoDev: return QStringLiteral("Battery Saver & Pause Daemons");
    case PerformancePreset::VanillaMac: return QStringLiteral("Restore Defaults & Clean Helpers");
    }
    return {};
}

QString PresetMenuView::entryText(const PerformancePreset &preset)
{
    return preset.rawValue() + QStringLiteral(" (") + shortDescription(preset) + QLatin1Char(')');
}

void PresetMenuView::update()
{
    const QString active = m_presets.activePreset().rawValue();
    for (QAction *action : m_entries->actions())
        action->setChecked(action->data().toString() == active);
    const auto shown = [](QString text) { return text.replace(QLatin1Char('&'), QLatin1String("&&")); };
    m_status->setText(shown(QStringLiteral("Active State: ") + m_presets.currentStatus()));
    m_battery->setText(shown(QStringLiteral("Macbook Battery: ") + m_presets.batteryStatus()));
}

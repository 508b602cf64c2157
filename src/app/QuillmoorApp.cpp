#include "QuillmoorApp.h"

#include "AppDelegate.h"
#include "presets/PresetManager.h"
#include "ui/SymbolIcon.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

QuillmoorApp::QuillmoorApp(AppServices services, QObject *parent)
    : QObject(parent)
    , m_appDelegate(std::make_unique<AppDelegate>(services))
    , m_presetManager(services.presets ? *services.presets : PresetManager::shared())
{
}

QuillmoorApp::~QuillmoorApp() = default;

void QuillmoorApp::launch()
{
    // "Performance Presets": one entry per preset, the active one checked; choosing one
    // applies it.
    m_presetMenu = std::make_unique<QMenu>(QStringLiteral("Performance Presets"));
    m_presetActions = new QActionGroup(m_presetMenu.get());
    m_presetActions->setExclusive(true);
    for (const PerformancePreset &preset : PerformancePreset::allCases()) {
        QAction *action = m_presetMenu->addAction(SymbolIcon::icon(preset.icon()), preset.rawValue());
        action->setCheckable(true);
        action->setData(preset.rawValue());
        connect(action, &QAction::triggered, this, [this, preset] { m_presetManager.applyPreset(preset); });
        m_presetActions->addAction(action);
    }

    m_presetItem = std::make_unique<QSystemTrayIcon>();
    m_presetItem->setToolTip(QStringLiteral("Performance Presets"));
    m_presetItem->setContextMenu(m_presetMenu.get());
    connect(m_presetItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_presetMenu->popup(QCursor::pos());
    });
    connect(&m_presetManager, &PresetManager::activePresetChanged, this, &QuillmoorApp::updatePresetItem);
    updatePresetItem();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_presetItem->show();

    m_appDelegate->applicationDidFinishLaunching();
}

void QuillmoorApp::updatePresetItem()
{
    const PerformancePreset active = m_presetManager.activePreset();
    m_presetItem->setIcon(SymbolIcon::icon(active.icon()));
    for (QAction *action : m_presetActions->actions())
        action->setChecked(action->data().toString() == active.rawValue());
}

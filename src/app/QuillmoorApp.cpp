#include "QuillmoorApp.h"

#include "AppDelegate.h"
#include "presets/PresetManager.h"
#include "ui/PresetMenuView.h"
#include "ui/SymbolIcon.h"

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

QMenu *QuillmoorApp::presetMenu() const
{
    return m_presetMenuView ? m_presetMenuView->menu() : nullptr;
}

void QuillmoorApp::launch(const QString &firstPage)
{
    m_presetMenuView = std::make_unique<PresetMenuView>(m_presetManager);
    QMenu *menu = m_presetMenuView->menu();

    m_presetItem = std::make_unique<QSystemTrayIcon>();
    m_presetItem->setToolTip(QStringLiteral("Performance Presets"));
    m_presetItem->setContextMenu(menu);
    connect(m_presetItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_presetMenuView->menu()->popup(QCursor::pos());
    });
    connect(&m_presetManager, &PresetManager::activePresetChanged, this, &QuillmoorApp::updatePresetItem);
    updatePresetItem();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_presetItem->show();

    m_appDelegate->applicationDidFinishLaunching(firstPage);
}

void QuillmoorApp::updatePresetItem()
{
    const PerformancePreset active = m_presetManager.activePreset();
    m_presetItem->setIcon(SymbolIcon::icon(active.icon()));
}

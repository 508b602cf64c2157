#pragma once

#include <QObject>
#include <QString>

#include <memory>

class PerformancePreset;
class PresetManager;
class QAction;
class QActionGroup;
class QMenu;

// The preset tray icon's menu: one entry per preset, the active one checked, then the
// manager's status and battery lines. Tray hosts show native menus only, so this is a
// QMenu kept in step with the manager rather than a QML view.
class PresetMenuView : public QObject
{
    Q_OBJECT

public:
    explicit PresetMenuView(PresetManager &presets, QObject *parent = nullptr);
    ~PresetMenuView() override;

    QMenu *menu() const { return m_menu.get(); }
    // The entry's text: the preset's name and its short description in parentheses.
    static QString entryText(const PerformancePreset &preset);
    static QString shortDescription(const PerformancePreset &preset);

private:
    void update();

    PresetManager &m_presets;
    std::unique_ptr<QMenu> m_menu;
    QActionGroup *m_entries = nullptr;
    QAction *m_status = nullptr;
    QAction *m_battery = nullptr;
};

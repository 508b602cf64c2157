#pragma once

#include "AppDelegate.h"

#include <QObject>

#include <memory>

class PresetManager;
class PresetMenuView;
class QMenu;
class QSystemTrayIcon;

// The application object: the preset tray icon with its menu, and the delegate that
// builds everything else.
class QuillmoorApp : public QObject
{
    Q_OBJECT

public:
    // `services`: what the delegate and the preset menu use; unset ones are the shared ones.
    explicit QuillmoorApp(AppServices services = {}, QObject *parent = nullptr);
    ~QuillmoorApp() override;

    // `firstPage`: the dashboard page to open at launch ("quillmoor --page Sensors").
    void launch(const QString &firstPage = {});

    AppDelegate *appDelegate() const { return m_appDelegate.get(); }
    QMenu *presetMenu() const;

private:
    void updatePresetItem();

    std::unique_ptr<AppDelegate> m_appDelegate;
    PresetManager &m_presetManager;
    std::unique_ptr<PresetMenuView> m_presetMenuView;
    std::unique_ptr<QSystemTrayIcon> m_presetItem;
};

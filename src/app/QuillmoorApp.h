#pragma once

#include <QObject>

#include <memory>

class AppDelegate;
class PresetManager;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;

// The application object: the preset tray icon with its menu, and the delegate that
// builds everything else.
class QuillmoorApp : public QObject
{
    Q_OBJECT

public:
    explicit QuillmoorApp(QObject *parent = nullptr);
    ~QuillmoorApp() override;

    void launch();

    AppDelegate *appDelegate() const { return m_appDelegate.get(); }
    QMenu *presetMenu() const { return m_presetMenu.get(); }

private:
    void updatePresetItem();

    std::unique_ptr<AppDelegate> m_appDelegate;
    PresetManager &m_presetManager;
    std::unique_ptr<QMenu> m_presetMenu;
    QActionGroup *m_presetActions = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_presetItem;
};

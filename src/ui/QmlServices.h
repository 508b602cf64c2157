#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// The services the screens read, as the QML singleton "Services" of the module
// "Quillmoor". Each engine gets the set installed on it, so a test's engine sees its own
// fakes and the app's engine the real services; views take them as properties from here
// or from whoever creates them.
class QmlServices : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Services)
    QML_SINGLETON
    Q_PROPERTY(QObject *stats READ stats CONSTANT)
    Q_PROPERTY(QObject *processMonitor READ processMonitor CONSTANT)
    Q_PROPERTY(QObject *theme READ theme CONSTANT)
    Q_PROPERTY(QObject *preferences READ preferences CONSTANT)
    Q_PROPERTY(QObject *notifications READ notifications CONSTANT)
    Q_PROPERTY(QObject *aiService READ aiService CONSTANT)
    Q_PROPERTY(QObject *presets READ presets CONSTANT)
    Q_PROPERTY(QObject *personas READ personas CONSTANT)

public:
    struct Set
    {
        QObject *stats = nullptr;
        QObject *processMonitor = nullptr;
        QObject *theme = nullptr;
        QObject *preferences = nullptr;
        QObject *notifications = nullptr;
        QObject *aiService = nullptr;
        QObject *presets = nullptr;
        QObject *personas = nullptr;
    };

    explicit QmlServices(Set services, QObject *parent = nullptr);

    // Gives `engine` its set, which the engine owns; install it before loading a view.
    static void install(QQmlEngine &engine, Set services);

    // What the QML engine calls the first time a view of `engine` names Services.
    static QmlServices *create(QQmlEngine *engine, QJSEngine *);

    QObject *stats() const { return m_set.stats; }
    QObject *processMonitor() const { return m_set.processMonitor; }
    QObject *theme() const { return m_set.theme; }
    QObject *preferences() const { return m_set.preferences; }
    QObject *notifications() const { return m_set.notifications; }
    QObject *aiService() const { return m_set.aiService; }
    QObject *presets() const { return m_set.presets; }
    QObject *personas() const { return m_set.personas; }

private:
    Set m_set;
};

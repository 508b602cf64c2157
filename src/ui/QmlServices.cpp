#include "QmlServices.h"

#include <QQmlEngine>

namespace {
constexpr char kEngineProperty[] = "quillmoorServices";
}

QmlServices::QmlServices(Set services, QObject *parent)
    : QObject(parent)
    , m_set(services)
{
}

// The module's type registrations sit in a generated file of this library; naming its
// function here keeps the linker from dropping that file from the app and the tests.
extern void qml_register_types_Quillmoor();

void QmlServices::install(QQmlEngine &engine, Set services)
{
    volatile auto keepRegistrations = &qml_register_types_Quillmoor;
    Q_UNUSED(keepRegistrations);
    engine.setProperty(kEngineProperty, QVariant::fromValue(new QmlServices(services, &engine)));
}

QmlServices *QmlServices::create(QQmlEngine *engine, QJSEngine *)
{
    auto *set = engine->property(kEngineProperty).value<QmlServices *>();
    // An engine nobody installed a set on gets an empty one, not a crash.
    if (!set)
        set = new QmlServices(Set{}, engine);
    QQmlEngine::setObjectOwnership(set, QQmlEngine::CppOwnership);
    return set;
}
